// The own text layer (names prefixed starlace_) against Debian's SDL_ttf with the same font: metrics
// and sizes must be equal, blended surfaces equal in size and layout and close in coverage.
#include <SDL/SDL_ttf.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/win32/sdl_image_ttf/include/SDL/SDL_ttf.h"
#include "tests/support/temp_dir.h"

namespace {
const char* const kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* const kDejaVuBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

class TextLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(TTF_Init(), 0);
    ASSERT_EQ(starlace_TTF_Init(), 0);
  }
  void TearDown() override {
    while (TTF_WasInit()) TTF_Quit();
    while (starlace_TTF_WasInit()) starlace_TTF_Quit();
  }
};

struct Fonts {
  Fonts(const char* file, int size) : real(TTF_OpenFont(file, size)), own(starlace_TTF_OpenFont(file, size)) {}
  ~Fonts() {
    if (real) TTF_CloseFont(real);
    if (own) starlace_TTF_CloseFont(own);
  }
  void style(int s) {
    TTF_SetFontStyle(real, s);
    starlace_TTF_SetFontStyle(own, s);
  }
  TTF_Font* real;
  starlace_TTF_Font* own;
};

Uint8 alpha_at(const SDL_Surface* s, int x, int y) {
  return static_cast<Uint8>(*reinterpret_cast<const Uint32*>(static_cast<const Uint8*>(s->pixels) + y * s->pitch + x * 4) >> 24);
}
long ink(const SDL_Surface* s) {  // the sum of alpha
  long sum = 0;
  for (int y = 0; y < s->h; ++y)
    for (int x = 0; x < s->w; ++x) sum += alpha_at(s, x, y);
  return sum;
}
}  // namespace

// Sizes of strings with glyphs reaching left of the pen and below the descent, in every style
// combination, on fonts of three families (fonts-dejavu-core, fonts-dejavu-extra, fonts-liberation,
// fonts-freefont-ttf): the rendered surface too has SDL_ttf's size and keeps the ink.
TEST_F(TextLayer, MetricsStylesAndSizesEqualSdlTtfs) {
  const char* const fonts[] = {kDejaVu,
                               "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Italic.ttf",
                               "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
                               "/usr/share/fonts/truetype/liberation/LiberationSerif-Italic.ttf",
                               "/usr/share/fonts/truetype/freefont/FreeSans.ttf",
                               "/usr/share/fonts/truetype/freefont/FreeSerifItalic.ttf"};
  const char* const texts[] = {"Hello, World", "AVATAR Wave To", "gjpqy|[]{}", "j_",
                               "Grüße, ½ €",   "i",              "ƒ(x) Ǫ",     "W"};
  const SDL_Color white{255, 255, 255, 0};
  for (const char* file : fonts)
    for (int size : {8, 10, 16, 23, 48}) {
      Fonts f(file, size);
      ASSERT_TRUE(f.real && f.own) << file << " " << size << " (is its Debian package installed?)";
      EXPECT_EQ(starlace_TTF_FontHeight(f.own), TTF_FontHeight(f.real)) << file << " " << size;
      for (int style = 0; style < 8; ++style) {  // every combination of bold, italic and underline
        f.style(style);
        EXPECT_EQ(starlace_TTF_GetFontStyle(f.own), TTF_GetFontStyle(f.real));
        for (const char* text : texts) {
          const std::string what = std::string(file) + " size " + std::to_string(size) + " style " +
                                   std::to_string(style) + " \"" + text + "\"";
          int rw = -1, rh = -1, ow = -2, oh = -2;
          ASSERT_EQ(TTF_SizeUTF8(f.real, text, &rw, &rh), 0) << what;
          EXPECT_EQ(starlace_TTF_SizeUTF8(f.own, text, &ow, &oh), 0) << what;
          EXPECT_TRUE(ow == rw && oh == rh) << what << ": " << ow << "x" << oh << ", SDL_ttf " << rw << "x" << rh;
          SDL_Surface* real = TTF_RenderUTF8_Blended(f.real, text, white);
          SDL_Surface* own = starlace_TTF_RenderUTF8_Blended(f.own, text, white);
          ASSERT_TRUE(real && own) << what;
          EXPECT_TRUE(own->w == real->w && own->h == real->h) << what << ": surface " << own->w << "x" << own->h;
          EXPECT_GE(ink(own) * 100, ink(real) * 97) << what << ": ink cut";
          SDL_FreeSurface(real);
          SDL_FreeSurface(own);
        }
      }
    }
  // A bold face reports bold whatever is set, and is not emboldened again.
  Fonts bold(kDejaVuBold, 12);
  ASSERT_TRUE(bold.real && bold.own);
  EXPECT_EQ(starlace_TTF_GetFontStyle(bold.own), TTF_GetFontStyle(bold.real));
  bold.style(TTF_STYLE_ITALIC);
  EXPECT_EQ(starlace_TTF_GetFontStyle(bold.own), TTF_GetFontStyle(bold.real));
  int rw = 0, rh = 0, ow = 0, oh = 0;
  TTF_SizeUTF8(bold.real, "Bold text", &rw, &rh);
  starlace_TTF_SizeUTF8(bold.own, "Bold text", &ow, &oh);
  EXPECT_EQ(ow, rw);
  EXPECT_EQ(oh, rh);
}

TEST_F(TextLayer, BlendedTextIsCloseToSdlTtfs) {
  const SDL_Color colour{40, 200, 90, 0};
  for (int size : {10, 23}) {  // 23 points: bold widens by two pixels
    Fonts f(kDejaVu, size);
    ASSERT_TRUE(f.real && f.own);
    for (int style : {TTF_STYLE_NORMAL, TTF_STYLE_BOLD, TTF_STYLE_ITALIC, TTF_STYLE_UNDERLINE,
                      TTF_STYLE_BOLD | TTF_STYLE_ITALIC | TTF_STYLE_UNDERLINE}) {
      f.style(style);
      for (const char* text : {"Hello, World", "AVATAR gjpq", "Grüße"}) {
        SDL_Surface* real = TTF_RenderUTF8_Blended(f.real, text, colour);
        SDL_Surface* own = starlace_TTF_RenderUTF8_Blended(f.own, text, colour);
        ASSERT_TRUE(real && own);
        const std::string what = std::string(text) + " size " + std::to_string(size) + " style " + std::to_string(style);
        ASSERT_EQ(own->w, real->w) << what;
        ASSERT_EQ(own->h, real->h) << what;
        EXPECT_EQ(own->format->BitsPerPixel, 32);
        EXPECT_EQ(own->format->Amask, real->format->Amask);
        EXPECT_EQ(own->format->Rmask, real->format->Rmask);
        EXPECT_EQ(own->format->Gmask, real->format->Gmask);
        EXPECT_EQ(own->format->Bmask, real->format->Bmask);
        long ink_real = 0, ink_own = 0, diff = 0;  // sums of alpha
        int worst = 0;
        for (int y = 0; y < real->h; ++y)
          for (int x = 0; x < real->w; ++x) {
            const int a = alpha_at(real, x, y), b = alpha_at(own, x, y);
            ink_real += a;
            ink_own += b;
            diff += std::abs(a - b);
            worst = std::max(worst, std::abs(a - b));
            const Uint32 rgb = *reinterpret_cast<const Uint32*>(static_cast<const Uint8*>(own->pixels) + y * own->pitch + x * 4) & 0xFFFFFF;
            ASSERT_EQ(rgb, 0x28C85Au) << what;
          }
        // Where two glyphs overlap the libraries combine their coverage differently; elsewhere the
        // pixels are the same.
        EXPECT_LE(worst, 32) << what;
        EXPECT_LE(diff * 100, ink_real) << what;
        EXPECT_GT(ink_own, 0) << what;
        SDL_FreeSurface(real);
        SDL_FreeSurface(own);
      }
    }
  }
}

TEST_F(TextLayer, FailuresGiveSdlTtfsErrorTexts) {
  TempDir dir;
  dir.write("broken.ttf", "this is not a font at all");
  TTF_Font* real = TTF_OpenFont(dir.file("broken.ttf").c_str(), 10);
  const std::string real_error = TTF_GetError();
  starlace_TTF_Font* own = starlace_TTF_OpenFont(dir.file("broken.ttf").c_str(), 10);
  EXPECT_EQ(real, nullptr);
  EXPECT_EQ(own, nullptr);
  EXPECT_EQ(std::string(TTF_GetError()), real_error);

  {
    Fonts f(kDejaVu, 10);
    EXPECT_EQ(TTF_RenderUTF8_Blended(f.real, "", SDL_Color{255, 255, 255, 0}), nullptr);
    const std::string empty_error = TTF_GetError();
    EXPECT_EQ(starlace_TTF_RenderUTF8_Blended(f.own, "", SDL_Color{255, 255, 255, 0}), nullptr);
    EXPECT_EQ(std::string(TTF_GetError()), empty_error);
  }

  // Point sizes no one should ask for fail or give a usable font, never a fault.
  for (int size : {0, -3, 500}) {
    starlace_TTF_Font* odd = starlace_TTF_OpenFont(kDejaVu, size);
    if (!odd) continue;
    EXPECT_GT(starlace_TTF_FontHeight(odd), 0) << size;
    starlace_TTF_SetFontStyle(odd, TTF_STYLE_BOLD | TTF_STYLE_ITALIC | TTF_STYLE_UNDERLINE);
    SDL_FreeSurface(starlace_TTF_RenderUTF8_Blended(odd, "Wg", SDL_Color{255, 255, 255, 0}));
    starlace_TTF_CloseFont(odd);
  }

  TTF_Quit();
  starlace_TTF_Quit();
  EXPECT_EQ(starlace_TTF_WasInit(), 0);
  SDL_RWops* rw = SDL_RWFromFile(kDejaVu, "rb");
  EXPECT_EQ(TTF_OpenFontRW(rw, 1, 10), nullptr);
  const std::string uninitialised = TTF_GetError();
  EXPECT_EQ(starlace_TTF_OpenFontRW(rw, 1, 10), nullptr);
  EXPECT_EQ(std::string(TTF_GetError()), uninitialised);
  EXPECT_EQ(SDL_RWseek(rw, 0, RW_SEEK_SET), 0);  // not taken over
  SDL_RWclose(rw);
}

TEST_F(TextLayer, StaleFontsFacesWithoutHeightAndOverlongLinesFailWithAnError) {
  // After TTF_Quit a font's face is gone with its library: the calls fail as SDL_ttf's do.
  starlace_TTF_Font* stale = starlace_TTF_OpenFont(kDejaVu, 12);
  ASSERT_NE(stale, nullptr);
  TTF_Quit();
  starlace_TTF_Quit();
  EXPECT_EQ(TTF_SizeUTF8(nullptr, "Hi", nullptr, nullptr), -1);
  const std::string uninitialised = TTF_GetError();
  int w = 0, h = 0;
  EXPECT_EQ(starlace_TTF_SizeUTF8(stale, "Hi", &w, &h), -1);
  EXPECT_EQ(std::string(TTF_GetError()), uninitialised);
  EXPECT_EQ(starlace_TTF_RenderUTF8_Blended(stale, "Hi", SDL_Color{255, 255, 255, 0}), nullptr);
  ASSERT_EQ(starlace_TTF_Init(), 0);  // a new library does not bring the face back
  EXPECT_EQ(starlace_TTF_SizeUTF8(stale, "Hi", &w, &h), -1);
  starlace_TTF_CloseFont(stale);

  // A face whose hhea ascender is 0 and descender positive has a height of 0 or less at 12 points.
  std::string font = read_file(kDejaVu);
  const auto be16 = [&](size_t at) { return size_t(uint8_t(font[at])) << 8 | uint8_t(font[at + 1]); };
  size_t hhea = 0;
  for (size_t i = 0; i < be16(4); ++i)
    if (font.compare(12 + 16 * i, 4, "hhea") == 0)
      hhea = be16(12 + 16 * i + 8) << 16 | be16(12 + 16 * i + 10);
  ASSERT_NE(hhea, 0u);
  for (int descender : {100, 1000}) {
    font[hhea + 4] = font[hhea + 5] = 0;
    font[hhea + 6] = char(descender >> 8), font[hhea + 7] = char(descender & 0xFF);
    EXPECT_EQ(starlace_TTF_OpenFontRW(SDL_RWFromConstMem(font.data(), int(font.size())), 1, 12), nullptr);
    EXPECT_STREQ(TTF_GetError(), "Font has no usable height") << descender;
  }

  // Wider than an int at 65535 points.
  starlace_TTF_Font* huge = starlace_TTF_OpenFont(kDejaVu, 65535);
  ASSERT_NE(huge, nullptr);
  EXPECT_EQ(starlace_TTF_SizeUTF8(huge, std::string(33200, 'W').c_str(), &w, &h), -1);
  EXPECT_STREQ(TTF_GetError(), "Text too large");
  starlace_TTF_CloseFont(huge);
}
