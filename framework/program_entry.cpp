#include "framework/program_entry.h"

#include <cstdio>
#include <exception>

#include "framework/exceptions.h"

int run_guarded(const std::function<void()>& body) {
  try {
    body();
    return 0;
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.Message().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Error: unknown exception\n");
  }
  std::fflush(stderr);
  return 1;
}
