#pragma once
// Image files made at test time: a 24-bit PNG (through libpng) and an uncompressed 24-bit TGA,
// both of the same colour pattern.
#include <cstdint>
#include <string>

struct TestRgb {
  uint8_t r, g, b;
};

// The colour of the pattern at (x, y); every pixel of a 128 x 64 image is distinct.
TestRgb test_pattern(int x, int y);
// The bytes of a w x h 24-bit RGB PNG of the pattern (empty on failure).
std::string png_rgb_bytes(int w, int h);
// The bytes of a w x h uncompressed 24-bit TGA of the pattern, first row at the top.
std::string tga_rgb_bytes(int w, int h);
