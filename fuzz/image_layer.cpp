// Reads arbitrary bytes as an image, by signature (PNG, BMP) and as TGA, through the project's own image
// layer: the decoders must stay inside their buffers, and a surface they return must hold every row
// it declares.
#include <cstddef>
#include <cstdint>

#include "platform/win32/sdl_image_ttf/include/SDL/SDL_image.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

uint32_t le16(const uint8_t* p) { return p[0] | (uint32_t(p[1]) << 8); }
uint32_t be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }
int64_t le32_magnitude(const uint8_t* p) {
  const int64_t v = int32_t(le16(p) | (le16(p + 2) << 16));
  return v < 0 ? -v : v;
}

// Headers may declare images of gigabytes; those measure the allocator, not the decoders.
const uint64_t kMostPixels = 1u << 22;

void load(const uint8_t* data, size_t size, const char* type) {
  SDL_RWops* rw = SDL_RWFromConstMem(data, static_cast<int>(size));
  SDL_Surface* s = STARLACE_IMGTTF_NAME(IMG_LoadTyped_RW)(rw, 1, type);
  if (!s) return;
  check(s->w >= 0 && s->h >= 0 && s->pitch >= s->w * s->format->BytesPerPixel);
  unsigned sum = 0;
  for (int y = 0; y < s->h; ++y)
    for (int x = 0; x < s->w * s->format->BytesPerPixel; ++x) sum += static_cast<const uint8_t*>(s->pixels)[y * s->pitch + x];
  check(sum < 0xFFFFFFFFu);
  SDL_FreeSurface(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 18 && uint64_t(le16(data + 12)) * le16(data + 14) <= kMostPixels) load(data, size, "TGA");
  const bool png = size >= 24 && data[0] == 0x89 && data[1] == 'P' && data[2] == 'N' && data[3] == 'G';
  if (png && uint64_t(be32(data + 16)) * be32(data + 20) <= kMostPixels) load(data, size, nullptr);
  // BMP: 32-bit width and height (a negative height is a top-down image), or 16-bit in OS/2's header.
  if (size >= 26 && data[0] == 'B' && data[1] == 'M') {
    const bool os2 = le16(data + 14) == 12 && le16(data + 16) == 0;
    const uint64_t pixels = os2 ? uint64_t(le16(data + 18)) * le16(data + 20)
                                : uint64_t(le32_magnitude(data + 18)) * uint64_t(le32_magnitude(data + 22));
    if (pixels <= kMostPixels) load(data, size, nullptr);
  }
  return 0;
}
