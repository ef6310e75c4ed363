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

// The largest audio lag, either way, in seconds; a lag beyond it is refused (logged) like one
// that is not a number.
constexpr double kMostAudioLag = 60.0;

// Reads the file; a missing file or key gives the defaults. Booleans are true exactly when the
// value begins with "1"; an integer or number that does not parse gives the default.
ShowIniSettings ReadShowIniSettings(const std::string& FileName);
