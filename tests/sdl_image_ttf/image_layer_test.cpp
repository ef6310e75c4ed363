// The own image layer (names prefixed starlace_) against Debian's SDL_image, on the same bytes: the
// surfaces must agree in size, layout, palette, colour key and every pixel, and failures in their
// error texts; the pixels must also be the pattern that was written.
#include <SDL/SDL_image.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/sdl_image_ttf/include/SDL/SDL_image.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"

namespace {
struct SurfaceFree {
  void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceFree>;

struct Loaded {
  Surface real, own;
  std::string real_error, own_error;
};

// The peak resident memory (KiB) of a child process that runs `work` and ends, whatever peak this
// process reached before; -1 when `work` returned false or the child did not end normally.
template <typename Work>
long child_peak_kib(Work work) {
  const pid_t pid = fork();
  if (pid == 0) _exit(work() ? 0 : 1);  // no exit handlers: the parent's are not the child's
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss;
}

// Loads `bytes` through both libraries, typed as TGA or by signature.
Loaded load_both(const std::string& bytes, bool as_tga) {
  Loaded r;
  for (int which = 0; which < 2; ++which) {
    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    SDL_SetError("none");
    SDL_Surface* s = which == 0 ? (as_tga ? IMG_LoadTyped_RW(rw, 0, const_cast<char*>("TGA")) : IMG_Load_RW(rw, 0))
                                : (as_tga ? starlace_IMG_LoadTyped_RW(rw, 0, "tga") : starlace_IMG_Load_RW(rw, 0));
    // A failed load leaves the handle where it was, so the caller can try another type.
    if (!s) {
      EXPECT_EQ(SDL_RWtell(rw), 0) << "library " << which;
    }
    SDL_RWclose(rw);
    (which == 0 ? r.real : r.own).reset(s);
    (which == 0 ? r.real_error : r.own_error) = SDL_GetError();
  }
  return r;
}

void expect_same_surface(const SDL_Surface* real, const SDL_Surface* own, const std::string& what) {
  ASSERT_NE(real, nullptr) << what;
  ASSERT_NE(own, nullptr) << what;
  ASSERT_EQ(own->w, real->w) << what;
  ASSERT_EQ(own->h, real->h) << what;
  const SDL_PixelFormat& a = *real->format;
  const SDL_PixelFormat& b = *own->format;
  ASSERT_EQ(b.BitsPerPixel, a.BitsPerPixel) << what;
  EXPECT_EQ(b.Rmask, a.Rmask) << what;
  EXPECT_EQ(b.Gmask, a.Gmask) << what;
  EXPECT_EQ(b.Bmask, a.Bmask) << what;
  EXPECT_EQ(b.Amask, a.Amask) << what;
  EXPECT_EQ(own->flags & SDL_SRCCOLORKEY, real->flags & SDL_SRCCOLORKEY) << what;
  if (real->flags & SDL_SRCCOLORKEY) {
    EXPECT_EQ(b.colorkey, a.colorkey) << what;
  }
  ASSERT_EQ(b.palette != nullptr, a.palette != nullptr) << what;
  if (a.palette) {
    ASSERT_EQ(b.palette->ncolors, a.palette->ncolors) << what;
    for (int i = 0; i < a.palette->ncolors; ++i) {
      const SDL_Color x = a.palette->colors[i], y = b.palette->colors[i];
      EXPECT_TRUE(x.r == y.r && x.g == y.g && x.b == y.b) << what << " palette entry " << i;
    }
  }
  const size_t row = size_t(real->w) * a.BytesPerPixel;
  for (int y = 0; y < real->h; ++y)
    ASSERT_EQ(std::memcmp(static_cast<const char*>(real->pixels) + y * real->pitch,
                          static_cast<const char*>(own->pixels) + y * own->pitch, row),
              0)
        << what << " row " << y;
}

SDL_Color colour_at(const SDL_Surface* s, int x, int y) {
  Uint32 v = 0;
  std::memcpy(&v, static_cast<const Uint8*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel,
              s->format->BytesPerPixel);
  SDL_Color c{0, 0, 0, 0};
  SDL_GetRGBA(v, s->format, &c.r, &c.g, &c.b, &c.unused);
  return c;
}

// --- TGA files of the test pattern ---

enum Tga { kTrue16, kTrue24, kTrue32, kMapped, kGrey };

uint8_t grey_of(int x, int y) { return static_cast<uint8_t>(x * 7 + y * 13); }
uint8_t alpha_of(int x, int y) { return static_cast<uint8_t>(255 - 3 * x - 5 * y); }
// Colour-mapped files use a 16-entry map of distinct colours.
SDL_Color map_colour(int i) { return SDL_Color{uint8_t(i * 16), uint8_t(255 - i * 9), uint8_t(i * 5 + 40), 0}; }
int map_index(int x, int y) { return (x + 3 * y) % 16; }

std::string pixel_bytes(Tga kind, int x, int y) {
  const TestRgb c = test_pattern(x, y);
  const int v555 = ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3);
  switch (kind) {
    case kTrue16: return {char(v555 & 0xFF), char(v555 >> 8)};
    case kTrue24: return {char(c.b), char(c.g), char(c.r)};
    case kTrue32: return {char(c.b), char(c.g), char(c.r), char(alpha_of(x, y))};
    case kMapped: return {char(map_index(x, y))};
    case kGrey: return {char(grey_of(x, y))};
  }
  return {};
}

SDL_Color expected(Tga kind, int x, int y) {
  const TestRgb c = test_pattern(x, y);
  switch (kind) {
    case kTrue16: {  // SDL widens 5 bits to 8 by repeating the top bits
      auto widen = [](uint8_t v) { return uint8_t((v & 0xF8) | (v >> 5)); };
      return SDL_Color{widen(c.r), widen(c.g), widen(c.b), 255};
    }
    case kTrue24: return SDL_Color{c.r, c.g, c.b, 255};
    case kTrue32: return SDL_Color{c.r, c.g, c.b, alpha_of(x, y)};
    case kMapped: return SDL_Color{map_colour(map_index(x, y)).r, map_colour(map_index(x, y)).g, map_colour(map_index(x, y)).b, 255};
    case kGrey: return SDL_Color{grey_of(x, y), grey_of(x, y), grey_of(x, y), 255};
  }
  return {};
}

// A w x h TGA; rle packs runs of equal pixels (every second row is one colour, to give long runs)
// and emits the rest as raw packets that may cross rows.
std::string tga_file(Tga kind, int w, int h, bool rle, bool top_first, bool with_id) {
  const int bits = kind == kTrue16 ? 16 : kind == kTrue24 ? 24 : kind == kTrue32 ? 32 : 8;
  const int type = (kind == kMapped ? 1 : kind == kGrey ? 3 : 2) + (rle ? 8 : 0);
  std::string out(18, '\0');
  const std::string id = with_id ? "an image identifier" : "";
  out[0] = char(id.size());
  out[2] = char(type);
  if (kind == kMapped) {
    out[1] = 1;
    out[5] = 16;  // entries
    out[7] = 24;  // bits per entry
  }
  out[12] = char(w & 0xFF), out[13] = char(w >> 8), out[14] = char(h & 0xFF), out[15] = char(h >> 8);
  out[16] = char(bits);
  out[17] = char((top_first ? 0x20 : 0) | (kind == kTrue32 ? 8 : 0));
  out += id;
  if (kind == kMapped)
    for (int i = 0; i < 16; ++i) out += std::string{char(map_colour(i).b), char(map_colour(i).g), char(map_colour(i).r)};
  std::vector<std::string> pixels;
  for (int row = 0; row < h; ++row) {
    const int y = top_first ? row : h - 1 - row;
    for (int x = 0; x < w; ++x) pixels.push_back(pixel_bytes(kind, (y % 2) ? 0 : x, y));
  }
  if (!rle) {
    for (const auto& p : pixels) out += p;
    return out;
  }
  size_t i = 0;
  while (i < pixels.size()) {
    size_t run = 1;
    while (i + run < pixels.size() && run < 128 && pixels[i + run] == pixels[i]) ++run;
    if (run > 1) {
      out += char(0x80 | (run - 1));
      out += pixels[i];
      i += run;
      continue;
    }
    size_t raw = 1;
    while (i + raw < pixels.size() && raw < 128 && pixels[i + raw] != pixels[i + raw - 1]) ++raw;
    out += char(raw - 1);
    for (size_t k = 0; k < raw; ++k) out += pixels[i + k];
    i += raw;
  }
  return out;
}

// --- PNG files ---

// A w x h PNG of the given colour type; palette images use the 16-entry map, with `transparent`
// entries given alpha (0 for one entry alone: a colour key; several mixed values: an alpha channel).
std::string png_file(int colour_type, int depth, int w, int h, std::vector<uint8_t> transparency = {},
                     bool interlaced = false) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return std::string();
  }
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t n) {
        static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), n);
      },
      [](png_structp) {});
  png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), depth, colour_type,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color palette[16];
  for (int i = 0; i < 16; ++i) palette[i] = png_color{map_colour(i).r, map_colour(i).g, map_colour(i).b};
  if (colour_type == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette, 16);
  if (!transparency.empty()) png_set_tRNS(png, info, transparency.data(), int(transparency.size()), nullptr);
  png_write_info(png, info);
  const int channels = colour_type == PNG_COLOR_TYPE_RGB ? 3 : colour_type == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                       : colour_type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2 : 1;
  const int bytes = depth / 8;
  std::vector<std::vector<png_byte>> rows(size_t(h), std::vector<png_byte>(size_t(w) * size_t(channels) * size_t(bytes)));
  std::vector<png_bytep> row_pointers;
  for (int y = 0; y < h; ++y) {
    std::vector<png_byte>& row = rows[size_t(y)];
    row_pointers.push_back(row.data());
    for (int x = 0; x < w; ++x) {
      const TestRgb c = test_pattern(x, y);
      std::vector<uint8_t> v;
      if (colour_type == PNG_COLOR_TYPE_RGB) v = {c.r, c.g, c.b};
      if (colour_type == PNG_COLOR_TYPE_RGB_ALPHA) v = {c.r, c.g, c.b, alpha_of(x, y)};
      if (colour_type == PNG_COLOR_TYPE_GRAY) v = {grey_of(x, y)};
      if (colour_type == PNG_COLOR_TYPE_GRAY_ALPHA) v = {grey_of(x, y), alpha_of(x, y)};
      if (colour_type == PNG_COLOR_TYPE_PALETTE) v = {uint8_t(map_index(x, y))};
      for (size_t k = 0; k < v.size(); ++k)
        for (int b = 0; b < bytes; ++b) row[(size_t(x) * v.size() + k) * size_t(bytes) + size_t(b)] = v[k];
    }
  }
  png_write_image(png, row_pointers.data());
  png_text comment{};  // after the image data: a chunk the decoders have no use for
  comment.compression = PNG_TEXT_COMPRESSION_NONE;
  comment.key = const_cast<char*>("Comment");
  comment.text = const_cast<char*>("made by the test");
  png_set_text(png, info, &comment, 1);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}
}  // namespace

TEST(ImageLayer, TgaVariantsDecodeToThePatternAsSdlImageDoes) {
  struct Case {
    Tga kind;
    bool rle, top_first, with_id;
    const char* name;
  };
  const Case cases[] = {
      {kTrue24, false, true, false, "24-bit, top first"},   {kTrue24, false, false, true, "24-bit, bottom first"},
      {kTrue32, false, false, false, "32-bit"},             {kTrue24, true, true, false, "24-bit RLE"},
      {kTrue32, true, false, true, "32-bit RLE"},           {kMapped, false, true, false, "colour-mapped"},
      {kMapped, true, false, false, "colour-mapped RLE"},   {kGrey, false, false, false, "grey"},
      {kGrey, true, true, true, "grey RLE"},               {kTrue16, true, false, false, "16-bit RLE"},
  };
  const int w = 37, h = 9;
  for (const Case& c : cases) {
    Loaded l = load_both(tga_file(c.kind, w, h, c.rle, c.top_first, c.with_id), true);
    expect_same_surface(l.real.get(), l.own.get(), c.name);
    if (!l.own) continue;
    const int bits = c.kind == kTrue16 ? 16 : c.kind == kTrue24 ? 24 : c.kind == kTrue32 ? 32 : 8;
    EXPECT_EQ(l.own->format->BitsPerPixel, bits) << c.name;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const SDL_Color want = expected(c.kind, (y % 2) ? 0 : x, y), got = colour_at(l.own.get(), x, y);
        ASSERT_TRUE(want.r == got.r && want.g == got.g && want.b == got.b && want.unused == got.unused)
            << c.name << " at " << x << "," << y;
      }
  }
}

TEST(ImageLayer, PngWithAndWithoutAlphaPaletteAndGreyMatchSdlImage) {
  struct Case {
    int colour_type, depth;
    std::vector<uint8_t> transparency;
    const char* name;
    bool interlaced = false;
  };
  const Case cases[] = {
      {PNG_COLOR_TYPE_RGB, 8, {}, "RGB", false},
      {PNG_COLOR_TYPE_RGB, 8, {}, "RGB interlaced", true},
      {PNG_COLOR_TYPE_RGB_ALPHA, 8, {}, "RGBA"},
      {PNG_COLOR_TYPE_RGB_ALPHA, 16, {}, "RGBA 16-bit"},
      {PNG_COLOR_TYPE_GRAY, 8, {}, "grey"},
      {PNG_COLOR_TYPE_GRAY_ALPHA, 8, {}, "grey with alpha"},
      {PNG_COLOR_TYPE_PALETTE, 8, {}, "palette"},
      {PNG_COLOR_TYPE_PALETTE, 8, {255, 255, 0, 255}, "palette with a colour key"},
      {PNG_COLOR_TYPE_PALETTE, 8, {255, 128, 0, 30}, "palette with alpha"},
  };
  for (const Case& c : cases) {
    const std::string bytes = png_file(c.colour_type, c.depth, 29, 7, c.transparency, c.interlaced);
    ASSERT_FALSE(bytes.empty()) << c.name;
    Loaded l = load_both(bytes, false);
    expect_same_surface(l.real.get(), l.own.get(), c.name);
    if (!l.own) continue;
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 29; ++x) {
        const TestRgb p = test_pattern(x, y);
        SDL_Color want{p.r, p.g, p.b, 255};
        if (c.colour_type == PNG_COLOR_TYPE_RGB_ALPHA) want.unused = alpha_of(x, y);
        if (c.colour_type == PNG_COLOR_TYPE_GRAY || c.colour_type == PNG_COLOR_TYPE_GRAY_ALPHA)
          want = SDL_Color{grey_of(x, y), grey_of(x, y), grey_of(x, y), 255};
        if (c.colour_type == PNG_COLOR_TYPE_GRAY_ALPHA) want.unused = alpha_of(x, y);
        if (c.colour_type == PNG_COLOR_TYPE_PALETTE) {
          const int i = map_index(x, y);
          want = map_colour(i);
          want.unused = c.transparency.size() == 4 && i < 4 && c.transparency[1] == 128 ? c.transparency[size_t(i)] : 255;
        }
        const SDL_Color got = colour_at(l.own.get(), x, y);
        ASSERT_TRUE(want.r == got.r && want.g == got.g && want.b == got.b && want.unused == got.unused)
            << c.name << " at " << x << "," << y;
      }
  }
}

TEST(ImageLayer, BmpAndFilesByNameLoadAsSdlImageLoadsThem) {
  TempDir dir;
  SDL_Surface* source = SDL_CreateRGBSurface(0, 6, 5, 24, 0xFF0000, 0xFF00, 0xFF, 0);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) {
      const TestRgb c = test_pattern(x, y);
      SDL_Rect r{Sint16(x), Sint16(y), 1, 1};
      SDL_FillRect(source, &r, SDL_MapRGB(source->format, c.r, c.g, c.b));
    }
  ASSERT_EQ(SDL_SaveBMP(source, dir.file("p.bmp").c_str()), 0);
  SDL_FreeSurface(source);
  Loaded bmp = load_both(read_file(dir.file("p.bmp")), false);
  expect_same_surface(bmp.real.get(), bmp.own.get(), "BMP");

  // IMG_Load takes the type from the file name: ".tga" is read as TGA.
  dir.write("p.TGA", tga_file(kTrue24, 5, 4, false, false, false));
  dir.write("p.png", png_file(PNG_COLOR_TYPE_RGB, 8, 5, 4));
  for (const char* name : {"p.TGA", "p.png"}) {
    Surface real(IMG_Load(dir.file(name).c_str())), own(starlace_IMG_Load(dir.file(name).c_str()));
    expect_same_surface(real.get(), own.get(), name);
  }
  EXPECT_EQ(starlace_IMG_Load(dir.file("missing.png").c_str()), nullptr);
}

TEST(ImageLayer, UnreadableInputFailsWithSdlImagesErrorTexts) {
  const std::string png = png_file(PNG_COLOR_TYPE_RGB, 8, 16, 16);
  const std::string tga = tga_file(kTrue24, 16, 16, false, true, false);
  std::string bad_tga_type = tga, mapped_without_map = tga_file(kMapped, 4, 4, false, true, false);
  bad_tga_type[2] = 5;
  mapped_without_map[1] = 0;
  struct Case {
    std::string bytes;
    bool as_tga;
    const char* name;
  };
  const Case cases[] = {
      {"", false, "empty"},
      {"neither a PNG nor a TGA file", false, "text"},
      {"neither a PNG nor a TGA file", true, "text as TGA"},
      {png, true, "PNG as TGA"},
      {png.substr(0, 40), false, "PNG cut in its header"},
      {png.substr(0, png.size() / 2), false, "PNG cut in its data"},
      {tga.substr(0, 10), true, "TGA cut in its header"},
      {bad_tga_type, true, "TGA of an unknown type"},
      {mapped_without_map, true, "colour-mapped TGA without a map"},
  };
  for (const Case& c : cases) {
    Loaded l = load_both(c.bytes, c.as_tga);
    EXPECT_EQ(l.real, nullptr) << c.name;
    EXPECT_EQ(l.own, nullptr) << c.name;
    EXPECT_EQ(l.own_error, l.real_error) << c.name;
    EXPECT_NE(l.own_error, "none") << c.name;
  }
  SDL_SetError("none");
  EXPECT_EQ(starlace_IMG_Load_RW(nullptr, 0), nullptr);
  EXPECT_STREQ(IMG_GetError(), "Passed a NULL data source");
}

TEST(ImageLayer, TgaDataCutShortLeavesTheRestBlackAsSdlImageDoes) {
  for (bool rle : {false, true}) {
    const std::string tga = tga_file(kTrue32, 20, 6, rle, true, false);
    Loaded l = load_both(tga.substr(0, tga.size() - 70), true);
    expect_same_surface(l.real.get(), l.own.get(), rle ? "RLE" : "plain");
  }
}

TEST(ImageLayer, ImagesTooWideForAnSdlSurfaceAreRefused) {
  // SDL 1.2 keeps the pitch in 16 bits: a 20000 pixel wide 32-bit row would overrun its buffer.
  std::string tga = tga_file(kTrue32, 1, 1, false, true, false);
  tga[12] = char(20000 & 0xFF), tga[13] = char(20000 >> 8);
  SDL_RWops* rw = SDL_RWFromConstMem(tga.data(), int(tga.size()));
  EXPECT_EQ(starlace_IMG_LoadTyped_RW(rw, 1, "TGA"), nullptr);
  EXPECT_STREQ(IMG_GetError(), "Image too large");

  const std::string png = png_file(PNG_COLOR_TYPE_RGB_ALPHA, 8, 20000, 1);
  rw = SDL_RWFromConstMem(png.data(), int(png.size()));
  EXPECT_EQ(starlace_IMG_Load_RW(rw, 1), nullptr);
  EXPECT_STREQ(IMG_GetError(), "Image too large");
}

TEST(ImageLayer, HeadersClaimingHugeSizesAreRefusedCheaply) {
  // A 44-byte PNG whose text chunk claims 2 GiB: refused without taking the memory it claims.
  std::string png = png_file(PNG_COLOR_TYPE_RGB, 8, 1, 1).substr(0, 33);  // signature and IHDR
  png += std::string("\x7F\xFF\xFF\xFF" "tEXt" "a\0b", 11);
  ASSERT_EQ(png.size(), 44u);
  // The decode's own peak: that of a child doing it, less that of a child doing nothing (both start
  // from this process's pages, and a sanitizer's or an emulator's own memory is in both).
  const long idle = child_peak_kib([] { return true; });
  const long decoding = child_peak_kib(
      [&] { return starlace_IMG_Load_RW(SDL_RWFromConstMem(png.data(), int(png.size())), 1) == nullptr; });
  ASSERT_GT(idle, 0);
  ASSERT_GT(decoding, 0) << "the child did not end normally, or the file was not refused";
  EXPECT_LT(decoding - idle, 256 * 1024) << "the decode's peak memory was larger by that many KiB";

  // A top-down BMP of 2^31 rows: SDL's loader gives a negative height.
  TempDir dir;
  SDL_Surface* source = SDL_CreateRGBSurface(0, 8, 2, 24, 0xFF0000, 0xFF00, 0xFF, 0);
  ASSERT_EQ(SDL_SaveBMP(source, dir.file("tall.bmp").c_str()), 0);
  SDL_FreeSurface(source);
  std::string bmp = read_file(dir.file("tall.bmp"));
  bmp.replace(22, 4, std::string("\0\0\0\x80", 4));
  SDL_RWops* rw = SDL_RWFromConstMem(bmp.data(), int(bmp.size()));
  EXPECT_EQ(starlace_IMG_Load_RW(rw, 0), nullptr);
  EXPECT_STREQ(IMG_GetError(), "Image too large");
  EXPECT_EQ(SDL_RWtell(rw), 0);
  SDL_RWclose(rw);

  // Depths SDL's loader takes without holding them: 12 bits, and 63745 (a byte keeps 1 of it).
  for (const int depth : {12, 63745}) {
    bmp = read_file(dir.file("tall.bmp"));
    bmp[28] = char(depth & 0xFF), bmp[29] = char(depth >> 8);
    EXPECT_EQ(starlace_IMG_Load_RW(SDL_RWFromConstMem(bmp.data(), int(bmp.size())), 1), nullptr) << depth;
    EXPECT_EQ(std::string(IMG_GetError()), std::to_string(depth) + "-bpp BMP images are not supported");
  }
}
