// Reads arbitrary bytes as a character sheet and writes a text from it: the map must keep its
// points and extents within 0..1 whatever the samples hold, and the text layout must stay finite
// and bounded in the particles it makes.
#include <cmath>
#include <cstdint>
#include <string>

#include "engine/context.h"
#include "engine/emitters.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

bool unit(float v) { return v >= 0.0f && v <= 1.0f; }

}  // namespace

// Header: width, height, step, format, threshold, text length; then the text, then the sheet.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  const uint32_t width = data[0] % 80;
  const uint32_t height = data[1] % 80;
  const uint32_t step = data[2] % 4;
  const int32_t format = data[3] % 4;  // 3 is no format
  const float threshold = static_cast<float>(data[4]) / 128.0f - 0.5f;
  const size_t text_length = data[5] % 32;
  if (6 + text_length > size) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 6, text_length);
  const uint8_t* sheet = data + 6 + text_length;
  const size_t available = size - 6 - text_length;
  const size_t sample = format == 1 ? 4 : format == 2 ? 8 : 1;
  const size_t pixels = static_cast<size_t>(width) * height;
  // The sheet must hold every sample the map reads; a short input is read as an empty sheet.
  const bool fits = pixels == 0 || ((pixels - 1) * step + 1) * sample <= available;
  TKZU_FontMap map(fits ? sheet : nullptr, width, height, step, threshold, format);

  for (const TKZU_CharacterMap& c : map.CharacterMaps) {
    check(c.VerticalClass <= 3 && unit(c.Width) && unit(c.Height));
    check(c.Points.empty() == (c.Width == 0.0f));
    for (const TKZ_Vectorf2& p : c.Points) check(unit(p[0]) && unit(p[1]));
  }

  TKZ_Context context;
  TKZU_FontEmitter emitter;
  emitter.SetContext(&context);
  emitter.FontMap = &map;
  emitter.Monospace = (data[2] & 4) != 0;
  emitter.ParticleCount = 200;
  emitter.SetText(text);
  emitter.Emit();
  check(context.GetParticleCount() <= 200);
  check(std::isfinite(emitter.TextWidth) && std::isfinite(emitter.TextHeight));
  return 0;
}
