#include "show/show_settings.h"

#include <ini.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "framework/log_manager.h"
#include "framework/streams.h"

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

void read_integer(const char* value, int64_t& field) {
  // The whole value must be a decimal 32-bit integer; anything else keeps the default.
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(value, &end, 10);
  if (end != value && *end == '\0' && errno == 0 && v >= INT32_MIN && v <= INT32_MAX) field = v;
}

void read_boolean(const char* value, bool& field) {
  if (*value != '\0') field = value[0] == '1';
}

// A decimal number with a point, whatever the C locale says; no "nan", "inf" or hex forms. Any
// finite value is taken as it stands; anything else keeps the default.
void read_decimal(const char* value, double& field) {
  std::string s(value);
  if (s.empty() || s.find_first_not_of("0123456789+-.eE") != std::string::npos) return;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() && *end == '\0' && std::isfinite(v)) field = v;
}

}  // namespace

uint16_t WindowDimension(const char* Key, int64_t Value, int64_t Default, int64_t Display) {
  const int64_t display = Display > 0 ? std::min<int64_t>(Display, UINT16_MAX) : kLargestUnboundedWindow;
  const char* const source = "TFirework.LoadSettings";
  if (Value < 1) {
    LogGlobalFmt(lmetWarning, "Window %s %d is not a size; using %d.", source, Key, Value, Default);
    return static_cast<uint16_t>(Default);
  }
  if (Value > std::max(display, kLargestUnboundedWindow)) {
    LogGlobalFmt(lmetWarning, "Window %s %d is larger than the display (%d); using %d.", source, Key, Value, display,
                 display);
    return static_cast<uint16_t>(display);
  }
  return static_cast<uint16_t>(Value);
}

namespace {

int handler(void* user, const char* section, const char* name, const char* value) {
  auto& s = *static_cast<ShowIniSettings*>(user);
  const std::string sec = lower(section), key = lower(name);
  if (sec == "video") {
    if (key == "width") read_integer(value, s.Width);
    else if (key == "height") read_integer(value, s.Height);
    else if (key == "fullscreen") read_boolean(value, s.Fullscreen);
  } else if (sec == "audio") {
    if (key == "lag") read_decimal(value, s.AudioLag);
  } else if (sec == "tweaks") {
    if (key == "smoke") read_boolean(value, s.Smoke);
    else if (key == "depthsort") read_boolean(value, s.DepthSort);
  }
  return 1;
}

}  // namespace

ShowIniSettings ReadShowIniSettings(const std::string& FileName) {
  ShowIniSettings settings;
  // A missing file leaves the defaults; so does anything but a regular file (a pipe would keep the
  // reader waiting). The stream opens without waiting and then checks what it opened, so a file
  // swapped for a pipe in between is refused too.
  std::string raw;
  try {
    TFileStream file(FileName, fmOpenRead);
    raw.resize(static_cast<size_t>(std::max<int64_t>(file.GetSize(), 0)));
    raw.resize(static_cast<size_t>(file.Read(&raw[0], static_cast<int64_t>(raw.size()))));
  } catch (const EFileStreamError&) {
    return settings;
  }
  // Lines are taken without their indentation: the reader would join an indented line to the
  // value before it.
  std::string text;
  size_t at = 0;
  while (at < raw.size()) {
    size_t end = raw.find('\n', at);
    if (end == std::string::npos) end = raw.size();
    const size_t start = raw.find_first_not_of(" \t", at);
    if (start != std::string::npos && start < end) text.append(raw, start, end - start);
    text += '\n';
    at = end + 1;
  }
  ini_parse_string(text.c_str(), &handler, &settings);
  return settings;
}
