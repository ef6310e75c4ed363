#pragma once
// The application clock: seconds as a double. On Linux the seconds within the current minute
// (wraps from 60 to 0; callers correct differences across one wrap); on Windows seconds since an
// arbitrary origin from the performance counter.

namespace platform {

// Which clock this build reads, and what it logs when the clock is set up.
struct ClockInfo {
  const char* UsingMessage;   // "Using ... as timer."
  bool HasFrequency;          // Windows: the counter frequency is reported
  long long Frequency;        // counts per second when HasFrequency
};

ClockInfo clock_info();
double clock_seconds();

// Lets tests drive the clock; nullptr restores the real one.
using ClockSource = double (*)();
void set_clock_source(ClockSource source);

}  // namespace platform
