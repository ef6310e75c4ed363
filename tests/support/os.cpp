#include "tests/support/os.h"

#include <cstdlib>
#include <filesystem>
#include <iterator>

#ifdef _WIN32
#include <windows.h>
#endif

void set_env(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value);
#else
  setenv(name, value, 1);
#endif
}

void unset_env(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");  // an empty value removes the variable
#else
  unsetenv(name);
#endif
}

int OpenFileDescriptors() {
#ifdef _WIN32
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return static_cast<int>(count);
#else
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                        std::filesystem::directory_iterator()));
#endif
}

std::string clock_log_line() {
#ifdef _WIN32
  return "[Info@InitTimer]: Using PerformanceCounter as timer.\r\n";
#else
  return "[Info@InitTimer]: Using gettimeofday as timer.\r\n";
#endif
}

std::string clock_frequency_log_line() {
#ifdef _WIN32
  return "[Debug@InitTimer]: Counter frequency is ";
#else
  return "";
#endif
}
