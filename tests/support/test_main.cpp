// The entry of every test program. As GoogleTest's own, but a run in which tests were skipped and
// none failed ends with STARLACE_SKIP_STATUS, which CTest reports as skipped: a plain 0 would claim
// that the skipped checks held. A failure after the tests (a sanitizer's report at exit, a crash)
// still ends the process with its own status.
#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  if (status != 0 || GTEST_FLAG_GET(list_tests)) return status;
  const ::testing::UnitTest& run = *::testing::UnitTest::GetInstance();
  // A filter naming no test (a test renamed, not its entry in the build) checked nothing.
  if (run.test_to_run_count() == 0) {
    std::fprintf(stderr, "No test matches the filter %s\n", GTEST_FLAG_GET(filter).c_str());
    return 1;
  }
  return run.skipped_test_count() > 0 ? STARLACE_SKIP_STATUS : 0;
}
