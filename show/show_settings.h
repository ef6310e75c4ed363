#pragma once
// The show's "settings.ini": video size and mode, audio lag, and two tweaks.
#include <cstdint>
#include <string>

struct ShowIniSettings {
  int64_t Width = 640;
  int64_t Height = 480;
  bool Fullscreen = false;
  double AudioLag = 0.25;
  bool Smoke = false;
  bool DepthSort = true;
};

// Reads the file; a missing file or key gives the defaults. Booleans are true exactly when the
// value begins with "1"; an integer or number that does not parse gives the default.
ShowIniSettings ReadShowIniSettings(const std::string& FileName);

// Window sizes up to this (or up to the display's, when larger) are taken as read: a window may be
// larger than the display.
constexpr int64_t kLargestUnboundedWindow = 4096;

// A window dimension from "settings.ini" (`Key` names it in the log), for a display that many
// pixels across (0: not known). What is not a size gives the default: 0 would leave a picture of
// no height. What is beyond every display is bounded to the display's: the window system cannot
// take it (a value stored as 65535 froze the GL driver, larger ones end with an X error). Both
// are logged as warnings with the value read and the value used.
uint16_t WindowDimension(const char* Key, int64_t Value, int64_t Default, int64_t Display);
