#include "platform/clock.h"

#include <windows.h>

namespace platform {
namespace {
ClockSource g_source = nullptr;

long long frequency() {
  static const long long f = [] {
    LARGE_INTEGER li;
    QueryPerformanceFrequency(&li);
    return static_cast<long long>(li.QuadPart);
  }();
  return f;
}

double real_clock() {
  LARGE_INTEGER li;
  QueryPerformanceCounter(&li);
  const long long f = frequency();
  return f > 0 ? static_cast<double>(li.QuadPart) / static_cast<double>(f) : 0.0;
}
}  // namespace

ClockInfo clock_info() { return ClockInfo{"Using PerformanceCounter as timer.", true, frequency()}; }

double clock_seconds() { return g_source ? g_source() : real_clock(); }

void set_clock_source(ClockSource source) { g_source = source; }

}  // namespace platform
