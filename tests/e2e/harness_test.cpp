// The harness itself: a run in which the program reports a memory error, undefined behaviour or a
// leak through this project's sources fails its test, whatever else the test checks.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/e2e/starlace_run.h"

#if defined(__SANITIZE_ADDRESS__)
#define STARLACE_E2E_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define STARLACE_E2E_ASAN 1
#endif
#endif

TEST(Harness, SanitizerReportsOfTheProgramFailTheRun) {
#ifndef STARLACE_E2E_ASAN
  GTEST_SKIP() << "needs the AddressSanitizer build";
#else
  // A helper stands in for the program; its argument names the fault.
  const char* configured = std::getenv("STARLACE_PROGRAM");
  const std::string saved = configured ? configured : "";
  setenv("STARLACE_PROGRAM", STARLACE_FAULTY_PROGRAM, 1);
  const struct {
    const char* fault;
    const char* report;
    bool fails_status;
  } cases[] = {{"use-after-free", "AddressSanitizer: heap-use-after-free", true},
               {"overflow", "runtime error: signed integer overflow", true},
               {"leak", " leak of 64 byte", false}};
  for (const auto& c : cases) {
    int status = -2;
    EXPECT_NONFATAL_FAILURE(
        {
          StarlaceRun run;
          run.start({c.fault});
          status = run.wait_exit(30);
        },
        c.report);
    EXPECT_EQ(status != 0, c.fails_status) << c.fault << " ended with " << status;
  }
  {
    StarlaceRun clean;
    clean.start({"none"});
    EXPECT_EQ(clean.wait_exit(30), 0);
  }
  if (configured) setenv("STARLACE_PROGRAM", saved.c_str(), 1);
  else unsetenv("STARLACE_PROGRAM");
#endif
}
