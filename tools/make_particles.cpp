// Draws the show's particle texture: a 4 by 4 grid of white sprites whose alpha holds the shape, so
// that the particle's own colour tints them under additive blending.
//
// Usage: make_particles <output.png>
//
// Cell numbering follows the particle context's texture grid: cell k is grid row k / 4, column k % 4,
// and grid row 0 is the band of texture coordinates next to v = 1. The image's first pixel row is
// uploaded at v = 0, so grid row 0 is the image's bottom band of cells: cell k is drawn at image cell
// row 3 - k / 4.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kCell = 64;      // pixels per cell side
constexpr int kGrid = 4;       // cells per side
constexpr int kSide = kCell * kGrid;
constexpr int kSamples = 4;    // supersampling per pixel side
constexpr double kPi = 3.14159265358979323846;

// A sprite's alpha at (x, y), both in -1..1 from the cell's centre.
using Shape = std::function<double(double x, double y)>;

double clamp01(double v) { return std::min(1.0, std::max(0.0, v)); }
double smoothstep(double edge0, double edge1, double v) {
  const double t = clamp01((v - edge0) / (edge1 - edge0));
  return t * t * (3.0 - 2.0 * t);
}
// Bright cores overlap to values above 1; a soft knee keeps them round instead of clipping them flat.
double soft_knee(double v) { return v < 0.7 ? v : 0.7 + 0.3 * (1.0 - std::exp(-(v - 0.7) / 0.3)); }
double gauss(double d, double sigma) { return std::exp(-(d * d) / (2.0 * sigma * sigma)); }

// Fades every shape out before the cell border, so that linear filtering never pulls a
// neighbouring sprite into a particle.
double border_window(double x, double y) {
  const double r = std::sqrt(x * x + y * y);
  return smoothstep(0.94, 0.80, r) * smoothstep(0.96, 0.88, std::max(std::fabs(x), std::fabs(y)));
}

// Smooth value noise on an integer lattice, hashed from the lattice point and a seed (no library
// random generator: the image must come out the same on every build).
double lattice(int ix, int iy, uint32_t seed) {
  uint32_t h = static_cast<uint32_t>(ix) * 374761393u + static_cast<uint32_t>(iy) * 668265263u + seed * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  h ^= h >> 16;
  return (h & 0xFFFFu) / 65535.0;
}
double value_noise(double x, double y, uint32_t seed) {
  const int ix = static_cast<int>(std::floor(x));
  const int iy = static_cast<int>(std::floor(y));
  const double fx = x - ix, fy = y - iy;
  const double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
  const double a = lattice(ix, iy, seed), b = lattice(ix + 1, iy, seed);
  const double c = lattice(ix, iy + 1, seed), d = lattice(ix + 1, iy + 1, seed);
  return (a + (b - a) * sx) + ((c + (d - c) * sx) - (a + (b - a) * sx)) * sy;
}
double fractal_noise(double x, double y, uint32_t seed) {
  return 0.55 * value_noise(x * 3, y * 3, seed) + 0.3 * value_noise(x * 6, y * 6, seed + 1) +
         0.15 * value_noise(x * 12, y * 12, seed + 2);
}

// A thin ray through the centre at angle a, fading towards its tips.
double ray(double x, double y, double a, double width, double reach) {
  const double along = x * std::cos(a) + y * std::sin(a);
  const double across = -x * std::sin(a) + y * std::cos(a);
  const double fade = clamp01(1.0 - std::fabs(along) / reach);
  return gauss(across, width) * fade * fade;
}

double radius(double x, double y) { return std::sqrt(x * x + y * y); }

// Cells 0 to 8 are the ones the firework catalogue names; 9 to 15 complete the sheet.
const Shape kCells[kGrid * kGrid] = {
    // 0: smoke puff (smoke trails, bloom bursts): a soft irregular cloud.
    [](double x, double y) {
      const double body = std::pow(clamp01(1.0 - radius(x, y) / 0.85), 1.5);
      return 0.85 * body * (0.45 + 0.55 * fractal_noise(x, y, 11));
    },
    // 1: spark (rocket trail): a hot point with a short halo.
    [](double x, double y) {
      const double r = radius(x, y);
      return gauss(r, 0.08) + 0.3 * gauss(r, 0.18);
    },
    // 2: twinkle (rainbow trail): a small core with a four-pointed glint.
    [](double x, double y) {
      const double r = radius(x, y);
      return gauss(r, 0.12) + 0.8 * (ray(x, y, 0, 0.035, 0.9) + ray(x, y, kPi / 2, 0.035, 0.9));
    },
    // 3: glow dot (red star trails): a round dot with a soft rim.
    [](double x, double y) {
      const double r = radius(x, y);
      return 0.75 * smoothstep(0.55, 0.3, r) + 0.5 * gauss(r, 0.15);
    },
    // 4: star (gold stars): a bright core, four long and four short rays.
    [](double x, double y) {
      const double r = radius(x, y);
      double rays = 0;
      for (int i = 0; i < 4; ++i) rays += ray(x, y, i * kPi / 4, 0.04, i % 2 == 0 ? 0.92 : 0.55);
      return gauss(r, 0.10) + 0.35 * gauss(r, 0.3) + 0.9 * rays;
    },
    // 5: soft glow (rocket body, stars, fountain drops, glitter): a wide glow around a hot core.
    [](double x, double y) {
      const double r = radius(x, y);
      return 0.9 * gauss(r, 0.12) + 0.6 * gauss(r, 0.32);
    },
    // 6: ring (blue star trails): a bright ring with a faint centre.
    [](double x, double y) {
      const double r = radius(x, y);
      return gauss(r - 0.5, 0.08) + 0.3 * gauss(r, 0.15);
    },
    // 7: sparkle (green star trails): a core with a diagonal cross.
    [](double x, double y) {
      const double r = radius(x, y);
      return gauss(r, 0.1) + 0.25 * gauss(r, 0.3) + 0.75 * (ray(x, y, kPi / 4, 0.04, 0.85) + ray(x, y, -kPi / 4, 0.04, 0.85));
    },
    // 8: flare (gold star trails): a soft hexagon.
    [](double x, double y) {
      double d = 0;
      for (int i = 0; i < 3; ++i) {
        const double a = i * kPi / 3;
        d = std::max(d, std::fabs(x * std::cos(a) + y * std::sin(a)));
      }
      return 0.7 * smoothstep(0.6, 0.25, d) + 0.4 * gauss(radius(x, y), 0.12);
    },
    // 9: wide halo.
    [](double x, double y) { return 0.7 * gauss(radius(x, y), 0.4); },
    // 10: thin ring.
    [](double x, double y) { return gauss(radius(x, y) - 0.7, 0.035); },
    // 11: streak: a horizontal line of light.
    [](double x, double y) { return ray(x, y, 0, 0.06, 0.9) + 0.5 * gauss(radius(x, y), 0.1); },
    // 12: cluster of small dots.
    [](double x, double y) {
      double a = gauss(radius(x, y), 0.08);
      for (int i = 0; i < 6; ++i) {
        const double t = i * kPi / 3;
        a += gauss(radius(x - 0.5 * std::cos(t), y - 0.5 * std::sin(t)), 0.07);
      }
      return a;
    },
    // 13: soft square.
    [](double x, double y) { return 0.8 * smoothstep(0.7, 0.4, std::max(std::fabs(x), std::fabs(y))); },
    // 14: second smoke puff.
    [](double x, double y) {
      const double body = std::pow(clamp01(1.0 - radius(x, y) / 0.85), 1.2);
      return 0.8 * body * (0.35 + 0.65 * fractal_noise(x, y, 29));
    },
    // 15: lens flare: glow, ring and rays.
    [](double x, double y) {
      const double r = radius(x, y);
      return 0.8 * gauss(r, 0.12) + 0.4 * gauss(r - 0.6, 0.05) + 0.5 * ray(x, y, kPi / 2, 0.03, 0.9);
    },
};

void draw_cell(std::vector<uint8_t>& image, int cell) {
  const int left = (cell % kGrid) * kCell;
  const int top = (kGrid - 1 - cell / kGrid) * kCell;
  const Shape& shape = kCells[cell];
  for (int py = 0; py < kCell; ++py) {
    for (int px = 0; px < kCell; ++px) {
      double sum = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const double x = (px + (sx + 0.5) / kSamples) * 2.0 / kCell - 1.0;
          const double y = (py + (sy + 0.5) / kSamples) * 2.0 / kCell - 1.0;
          sum += soft_knee(std::max(0.0, shape(x, y))) * border_window(x, y);
        }
      }
      const double alpha = sum / (kSamples * kSamples);
      uint8_t* pixel = &image[(static_cast<size_t>(top + py) * kSide + left + px) * 4];
      pixel[0] = pixel[1] = pixel[2] = 255;
      pixel[3] = static_cast<uint8_t>(std::lround(alpha * 255.0));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output.png>\n", argv[0]);
    return 2;
  }
  // Fully transparent white between and around the sprites: no dark fringes under filtering.
  std::vector<uint8_t> image(static_cast<size_t>(kSide) * kSide * 4, 0);
  for (size_t i = 0; i < image.size(); i += 4) image[i] = image[i + 1] = image[i + 2] = 255;
  for (int cell = 0; cell < kGrid * kGrid; ++cell) draw_cell(image, cell);

  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = kSide;
  png.height = kSide;
  png.format = PNG_FORMAT_RGBA;
  if (!png_image_write_to_file(&png, argv[1], 0, image.data(), 0, nullptr)) {
    std::fprintf(stderr, "make_particles: cannot write %s: %s\n", argv[1], png.message);
    return 1;
  }
  return 0;
}
