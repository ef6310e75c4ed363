#include <cstdlib>

#include "tests/support/xvfb.h"

// A Windows program draws on the desktop of the session it runs in; under wine that desktop is the
// X display the test runner gave the session (DISPLAY). There is no server of our own to start.
Xvfb::Xvfb() {
  const char* display = std::getenv("DISPLAY");
  display_ = display && display[0] == ':' ? std::atoi(display + 1) : 0;
}

Xvfb::~Xvfb() = default;
