#include "platform/clock.h"

#include <sys/time.h>

namespace platform {
namespace {
ClockSource g_source = nullptr;

double real_clock() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  // Both parts taken as unsigned values, seconds within the minute.
  const unsigned long secs = static_cast<unsigned long>(tv.tv_sec) % 60UL;
  const unsigned long usecs = static_cast<unsigned long>(tv.tv_usec);
  return static_cast<double>(secs) + static_cast<double>(usecs) / 1000000.0;
}
}  // namespace

ClockInfo clock_info() { return ClockInfo{"Using gettimeofday as timer.", false, 0}; }

double clock_seconds() { return g_source ? g_source() : real_clock(); }

void set_clock_source(ClockSource source) { g_source = source; }

}  // namespace platform
