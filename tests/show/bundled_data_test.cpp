// The data folder the build generates beside the program: the particle texture, the font, the demo
// song's music and its two scripts.
#include <SDL/SDL.h>
#include <SDL/SDL_image.h>
#include <SDL/SDL_ttf.h>
#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

const std::string kData = std::string(STARLACE_DATA_DIR) + "/";
const std::string kSong = kData + "songs/bbb/";

// ---------------------------------------------------------------------------------------------
// Particle texture
// ---------------------------------------------------------------------------------------------

// The particle context's grid counts rows from texture coordinate v = 1, and the image's first row
// lands at v = 0: cell k is image cell row 3 - k / 4.
struct CellAlpha {
  double sum = 0;
  int border = 0;  // largest alpha on the cell's outermost pixel ring
};

CellAlpha cell_alpha(SDL_Surface* s, int cell) {
  const int side = s->w / 4;
  const int left = (cell % 4) * side;
  const int top = (3 - cell / 4) * side;
  CellAlpha out;
  SDL_LockSurface(s);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const uint8_t* p = static_cast<uint8_t*>(s->pixels) + (top + y) * s->pitch + (left + x) * s->format->BytesPerPixel;
      Uint32 pixel = 0;
      std::memcpy(&pixel, p, s->format->BytesPerPixel);
      Uint8 r, g, b, a;
      SDL_GetRGBA(pixel, s->format, &r, &g, &b, &a);
      out.sum += a / 255.0;
      if (x == 0 || y == 0 || x == side - 1 || y == side - 1) out.border = std::max<int>(out.border, a);
    }
  }
  SDL_UnlockSurface(s);
  return out;
}

TEST(BundledData, ParticleTextureIsAFourByFourGridWithTheCatalogueCellsDrawn) {
  SDL_Surface* s = IMG_Load((kData + "tex/particles.png").c_str());
  ASSERT_NE(s, nullptr) << IMG_GetError();
  EXPECT_EQ(s->w, 256);
  EXPECT_EQ(s->h, 256);
  ASSERT_EQ(s->format->BitsPerPixel, 32);
  ASSERT_NE(s->format->Amask, 0u);
  std::vector<double> sums;
  for (int cell = 0; cell < 16; ++cell) {
    const CellAlpha a = cell_alpha(s, cell);
    // Sprites fade out before the cell edge: linear filtering must not bleed a neighbour in.
    EXPECT_EQ(a.border, 0) << "cell " << cell;
    sums.push_back(a.sum);
  }
  for (int cell = 0; cell <= 8; ++cell) EXPECT_GT(sums[cell], 64.0) << "cell " << cell << " is (nearly) empty";
  // The rocket body and stars (cell 5) are a wide glow; the trail spark (cell 1) a small point.
  EXPECT_GT(sums[5], 2 * sums[1]);
  SDL_FreeSurface(s);
}

TEST(BundledData, FontLoadsAndKeepsItsLicenceBeside) {
  ASSERT_EQ(TTF_Init(), 0);
  TTF_Font* font = TTF_OpenFont((kData + "fonts/dejavu-lgc-sans.ttf").c_str(), 10);
  ASSERT_NE(font, nullptr) << TTF_GetError();
  EXPECT_GT(TTF_FontHeight(font), 0);
  TTF_CloseFont(font);
  TTF_Quit();
  const std::string licence = read_file(kData + "fonts/dejavu-lgc-sans-LICENSE.txt");
  EXPECT_NE(licence.find("Bitstream"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Music
// ---------------------------------------------------------------------------------------------

double music_seconds() {
  OggVorbis_File vf;
  if (ov_fopen((kSong + "music.ogg").c_str(), &vf) != 0) return -1;
  const double seconds = ov_time_total(&vf, -1);
  ov_clear(&vf);
  return seconds;
}

TEST(BundledData, MusicIsOggVorbisOfNinetyToHundredTwentySeconds) {
  OggVorbis_File vf;
  ASSERT_EQ(ov_fopen((kSong + "music.ogg").c_str(), &vf), 0);
  const vorbis_info* info = ov_info(&vf, -1);
  EXPECT_EQ(info->channels, 2);
  EXPECT_EQ(info->rate, 44100);
  const double seconds = ov_time_total(&vf, -1);
  EXPECT_GE(seconds, 90.0);
  EXPECT_LE(seconds, 120.0);

  // Decodes to the end; sound all through (no silent stretch of a second), never clipped.
  float** pcm = nullptr;
  int section = 0;
  long frames = 0, total = 0;
  double peak = 0, window = 0;
  long window_frames = 0, silent_seconds = 0;
  while ((frames = ov_read_float(&vf, &pcm, 4096, &section)) > 0) {
    for (long i = 0; i < frames; ++i) {
      peak = std::max({peak, std::fabs(double{pcm[0][i]}), std::fabs(double{pcm[1][i]})});
      window += double{pcm[0][i]} * pcm[0][i];
      if (++window_frames == 44100) {
        if (std::sqrt(window / window_frames) < 0.005) ++silent_seconds;
        window = 0;
        window_frames = 0;
      }
    }
    total += frames;
  }
  EXPECT_EQ(frames, 0) << "decoding error";
  EXPECT_NEAR(total / 44100.0, seconds, 0.01);
  EXPECT_GT(peak, 0.3);
  EXPECT_LT(peak, 1.0);
  EXPECT_EQ(silent_seconds, 0);
  ov_clear(&vf);
  EXPECT_FALSE(std::filesystem::exists(kSong + "music.mp3")) << "the show would prefer it to the ogg";
}

// ---------------------------------------------------------------------------------------------
// Scripts
// ---------------------------------------------------------------------------------------------

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Launch {
  int kind;
  double launch, burst;  // seconds on the script clock
};

struct Script {
  std::vector<Launch> launches;
  std::set<int> setup_kinds;
  int negative_times = 0;
  int base_shifts = 0;
  std::vector<std::string> bad;  // statements of no known form
};

// Reads a script the way the show times it: "base" shifts, a negative launch time names the burst.
Script scan(const std::string& text) {
  Script out;
  std::string code;
  bool comment = false;
  for (char c : text) {
    if (c == '#') comment = true;
    if (c == '\r' || c == '\n') {
      comment = false;  // line breaks are dropped: they separate nothing
      continue;
    }
    if (comment) continue;
    if (!std::isalnum(static_cast<unsigned char>(c)) && std::string(" (),;.-").find(c) == std::string::npos)
      out.bad.push_back(std::string("character ") + c);
    code += c;
  }
  const std::string num = R"((-?[0-9]+(?:\.[0-9]+)?))";
  const std::string vec = R"(\()" + num + ", " + num + ", " + num + R"(\))";
  const std::regex base(" *" + num + "? *base *");
  const std::regex launch(" *" + num + " launch\\(([0-9]+), " + vec + ", (NaN|" + vec + "), (" + num.substr(1, num.size() - 2) +
                          "|NaN)\\) *");
  const std::regex setup(" *" + num + " setup\\(([0-9]+), " + vec + ", " + num + "\\) *");
  double shift = 0;
  size_t start = 0;
  for (size_t end; (end = code.find(';', start)) != std::string::npos || start < code.size(); start = end + 1) {
    if (end == std::string::npos) end = code.size();
    const std::string st = code.substr(start, end - start);
    if (st.find_first_not_of(' ') == std::string::npos) continue;
    std::smatch m;
    if (std::regex_match(st, m, base)) {
      const double t = m[1].matched ? std::stod(m[1]) : kNaN;
      if (std::isnan(t) || t == 0) {
        shift = 0;
      } else {
        shift += t;
        ++out.base_shifts;
      }
    } else if (std::regex_match(st, m, launch)) {
      double t = std::stod(m[1]);
      const int kind = std::stoi(m[2]);
      double flight = m[10] == "NaN" ? kNaN : std::stod(m[10]);
      if (m[6] == "NaN") {
        if (std::isnan(flight)) out.bad.push_back(st);  // neither a velocity nor a flight time
      } else if (std::isnan(flight)) {
        const float x = std::stof(m[7]), y = std::stof(m[8]), z = std::stof(m[9]);
        flight = 5.0f / std::sqrt(x * x + y * y + z * z);
      }
      if (t < 0) {
        ++out.negative_times;
        const double burst = -t + shift;
        out.launches.push_back({kind, burst - flight, burst});
      } else {
        t += shift;
        out.launches.push_back({kind, t, t + flight});
      }
    } else if (std::regex_match(st, m, setup)) {
      const double t = std::stod(m[1]) + shift;
      if (t < 0) out.bad.push_back(st);
      out.setup_kinds.insert(std::stoi(m[2]));
    } else {
      out.bad.push_back(st);
    }
  }
  return out;
}

class BundledScript : public ::testing::TestWithParam<const char*> {};

TEST_P(BundledScript, UsesOnlyTheStatementFormsAndEveryKind) {
  const std::string text = read_file(kSong + GetParam());
  ASSERT_FALSE(text.empty());
  const Script s = scan(text);
  EXPECT_TRUE(s.bad.empty()) << "first unknown statement: " << (s.bad.empty() ? "" : s.bad[0]);
  std::set<int> kinds;
  for (const Launch& l : s.launches) kinds.insert(l.kind);
  EXPECT_EQ(kinds, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}));
  EXPECT_EQ(s.setup_kinds, (std::set<int>{0, 1, 2, 3}));
  EXPECT_GT(s.negative_times, 0) << "rockets are timed by their bursts";
  EXPECT_GT(s.base_shifts, 0) << "sections are written relative to a base";
}

TEST_P(BundledScript, RocketsBurstOnTheBeatGridWhileTheMusicPlays) {
  const double music = music_seconds();
  ASSERT_GT(music, 0);
  const Script s = scan(read_file(kSong + GetParam()));
  ASSERT_FALSE(s.launches.empty());
  for (const Launch& l : s.launches) {
    EXPECT_GE(l.launch, 0.0) << "kind " << l.kind << " bursting at " << l.burst;
    EXPECT_LE(l.burst, music);
    // Sixteenth notes at 120 beats per minute.
    const double steps = l.burst / 0.125;
    EXPECT_NEAR(steps, std::round(steps), 1e-6) << "burst at " << l.burst << " is off the beat grid";
  }
}

INSTANTIATE_TEST_SUITE_P(Song, BundledScript, ::testing::Values("melody.txt", "guitar.txt"));

// ---------------------------------------------------------------------------------------------
// Reproducibility
// ---------------------------------------------------------------------------------------------

TEST(BundledData, GeneratorsMakeTheSameBytesAgain) {
#ifndef STARLACE_MAKE_SONG
  GTEST_SKIP() << "this build's data comes from host-built generators; the host build checks them";
#else
  TempDir dir;
  ASSERT_EQ(std::system((std::string(STARLACE_MAKE_SONG) + " " + dir.path() + "bbb > /dev/null").c_str()), 0);
  ASSERT_EQ(std::system((std::string(STARLACE_MAKE_PARTICLES) + " " + dir.path() + "particles.png").c_str()), 0);
  for (const char* name : {"music.ogg", "melody.txt", "guitar.txt"}) {
    const std::string again = dir.read(std::string("bbb/") + name);
    EXPECT_FALSE(again.empty()) << name;
    EXPECT_TRUE(again == read_file(kSong + name)) << name << " differs from the built one";
  }
  EXPECT_TRUE(dir.read("particles.png") == read_file(kData + "tex/particles.png"));
#endif
}

}  // namespace
