#include "tests/support/os.h"

#include <cstdlib>
#include <filesystem>
#include <iterator>

#ifdef _WIN32
#include <io.h>

#include <cstdint>
#else
#include <sys/stat.h>
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

#ifdef _WIN32
namespace {
void ignore_invalid_parameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {}
}  // namespace
#endif

int OpenFileDescriptors() {
#ifdef _WIN32
  // No /proc; and wine reports no process handle count. Probe the run-time's descriptors instead
  // (asking about a closed one is an "invalid parameter", which must not end the program here).
  const _invalid_parameter_handler old = _set_invalid_parameter_handler(ignore_invalid_parameter);
  int count = 0;
  for (int fd = 0; fd < 2048; ++fd) count += _get_osfhandle(fd) != -1;
  _set_invalid_parameter_handler(old);
  return count;
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

bool make_pipe(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return false;
#else
  return ::mkfifo(path.c_str(), 0600) == 0;
#endif
}
