#include "tests/support/test_images.h"

#include <png.h>

#include <vector>

TestRgb test_pattern(int x, int y) {
  return TestRgb{static_cast<uint8_t>(x * 2), static_cast<uint8_t>(y * 4), static_cast<uint8_t>(255 - x - y)};
}

namespace {
void append(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::string*>(png_get_io_ptr(png));
  out->append(reinterpret_cast<const char*>(data), length);
}
void flush(png_structp) {}
}  // namespace

std::string png_rgb_bytes(int w, int h) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    return std::string();
  }
  std::vector<png_byte> row(static_cast<size_t>(w) * 3);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return std::string();
  }
  png_set_write_fn(png, &out, &append, &flush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const TestRgb c = test_pattern(x, y);
      row[static_cast<size_t>(x) * 3] = c.r;
      row[static_cast<size_t>(x) * 3 + 1] = c.g;
      row[static_cast<size_t>(x) * 3 + 2] = c.b;
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::string tga_rgb_bytes(int w, int h) {
  std::string out(18, '\0');
  out[2] = 2;  // uncompressed true colour
  out[12] = static_cast<char>(w & 0xFF);
  out[13] = static_cast<char>(w >> 8);
  out[14] = static_cast<char>(h & 0xFF);
  out[15] = static_cast<char>(h >> 8);
  out[16] = 24;
  out[17] = 0x20;  // first row at the top
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const TestRgb c = test_pattern(x, y);
      out += static_cast<char>(c.b);
      out += static_cast<char>(c.g);
      out += static_cast<char>(c.r);
    }
  }
  return out;
}
