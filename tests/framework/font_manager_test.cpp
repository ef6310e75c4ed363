#include "framework/font_manager.h"

#include <gtest/gtest.h>

#include "framework/fs_manager.h"
#include "tests/framework/captured_log.h"
#include "tests/support/fake_gl.h"

namespace {
const char* const kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* const kFontFile = "fonts/dejavu-lgc-sans.ttf";

class Fonts : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string font = read_file(kDejaVu);
    ASSERT_FALSE(font.empty()) << "the fonts-dejavu-core package provides " << kDejaVu;
    dir_.write(kFontFile, font);
    dir_.write("fonts/broken.ttf", "this is not a font at all");
    fs_.SetModDir(dir_.path());
    ASSERT_EQ(TTF_Init(), 0);
  }
  void TearDown() override {
    while (TTF_WasInit()) TTF_Quit();
  }

  TempDir dir_;
  TfsManager fs_;
};

int style_of(const TfntFont& font) { return TTF_GetFontStyle(font.Font()); }
}  // namespace

TEST_F(Fonts, LoadsThroughTheFileSystemAndKeepsTheOldFontOnlyWhenNoFileWasFound) {
  CapturedLog log;
  TfntFont font(nullptr);
  ASSERT_TRUE(font.LoadFont(kFontFile, &fs_, "dejavu-sans", 10));
  EXPECT_NE(font.Font(), nullptr);
  EXPECT_EQ(font.Name(), "dejavu-sans");
  EXPECT_EQ(font.FileName(), kFontFile);
  EXPECT_EQ(font.Size(), 10);

  EXPECT_FALSE(font.LoadFont("fonts/missing.ttf", &fs_, "other", 12));
  EXPECT_TRUE(log.Has(lmetError, "TfntFont.LoadFont", "Couldn't load font from file fonts/missing.ttf."));
  EXPECT_NE(font.Font(), nullptr);
  EXPECT_EQ(font.Name(), "dejavu-sans");

  EXPECT_FALSE(font.LoadFont("fonts/broken.ttf", &fs_, "broken", 12));
  EXPECT_TRUE(log.Has(lmetError, "TfntFont.LoadFont", "Couldn't load font. Couldn't load font file"));
  EXPECT_EQ(font.Font(), nullptr);
  EXPECT_EQ(font.FileName(), kFontFile);
  EXPECT_EQ(font.Size(), 10);

  // Before SDL_ttf is initialised the open fails; the handle (and its file) must not leak.
  TTF_Quit();
  const int fds = OpenFileDescriptors();
  EXPECT_FALSE(font.LoadFont(kFontFile, &fs_, "early", 10));
  EXPECT_EQ(OpenFileDescriptors(), fds);
  EXPECT_TRUE(log.Has(lmetError, "TfntFont.LoadFont", "Couldn't load font. Library not initialized"));
}

TEST_F(Fonts, LoadFontRWLeavesTheHandleToTheCaller) {
  TfntFont font(nullptr);
  SDL_RWops* source = SDL_RWFromFile(dir_.file(kFontFile).c_str(), "rb");
  ASSERT_TRUE(font.LoadFontRW(source, "rw", 14));
  EXPECT_EQ(font.Size(), 14);
  EXPECT_EQ(font.Name(), "rw");
  EXPECT_EQ(font.FileName(), "");
  TfntTextSize size;
  font.GetTextSize("A", size);
  EXPECT_GT(size.Width, 0);
  font.CloseFont();
  EXPECT_EQ(SDL_RWseek(source, 0, RW_SEEK_SET), 0);  // still open
  SDL_RWclose(source);
}

TEST_F(Fonts, StylesAreAppliedToAnOpenFontWithOneWarningPerChange) {
  CapturedLog log;
  TfntFont font(nullptr);
  ASSERT_TRUE(font.LoadFont(kFontFile, &fs_, "dejavu-sans", 10));
  font.SetStyle(FontStyle(fsBold) | FontStyle(fsItalic));
  EXPECT_EQ(style_of(font), TTF_STYLE_BOLD | TTF_STYLE_ITALIC);
  EXPECT_EQ(log.CountLevel(lmetWarning), 1);
  const std::string warning =
      "[Warning@TfntFont.SetStyle]: Font warning: Style support is experimental (SIGSEGV possible), see ";
  const std::string second_line =
      " for details.\r\nIt's recommended to use the real style files of the font for better results. See modding "
      "manual for details.\r\n";
  EXPECT_NE(log.Text().find(warning), std::string::npos);
  EXPECT_NE(log.Text().find(second_line), std::string::npos);

  font.SetStyle(FontStyle(fsItalic) | FontStyle(fsBold));
  EXPECT_EQ(log.CountLevel(lmetWarning), 1);
  font.SetStyle(FontStyle(fsUnderlined));
  EXPECT_EQ(style_of(font), TTF_STYLE_UNDERLINE);
  EXPECT_EQ(log.CountLevel(lmetWarning), 2);
  font.SetStyle(0);
  EXPECT_EQ(style_of(font), TTF_STYLE_NORMAL);
  EXPECT_EQ(log.CountLevel(lmetWarning), 2);
}

TEST_F(Fonts, AStyleSetBeforeLoadingIsStoredButNotApplied) {
  CapturedLog log;
  TfntFont font(nullptr);
  font.SetStyle(FontStyle(fsBold));
  EXPECT_EQ(font.Styles(), FontStyle(fsBold));
  ASSERT_TRUE(font.LoadFont(kFontFile, &fs_, "dejavu-sans", 10));
  EXPECT_EQ(style_of(font), TTF_STYLE_NORMAL);
  EXPECT_EQ(log.CountLevel(lmetWarning), 0);
  font.SetStyle(FontStyle(fsBold));  // the same set: still not applied
  EXPECT_EQ(style_of(font), TTF_STYLE_NORMAL);
}

TEST_F(Fonts, TextSizeIsZeroWithoutFontOrTextAndGrowsWithTheText) {
  TfntFont font(nullptr);
  TfntTextSize size{5, 5, 5};
  font.GetTextSize("Hello", size);
  EXPECT_EQ(size.Width, 0);
  EXPECT_EQ(size.Status, 0);
  ASSERT_TRUE(font.LoadFont(kFontFile, &fs_, "dejavu-sans", 10));
  size = TfntTextSize{5, 5, 5};
  font.GetTextSize("", size);
  EXPECT_EQ(size.Width, 0);
  EXPECT_EQ(size.Height, 0);
  TfntTextSize short_size, long_size;
  font.GetTextSize("Hello", short_size);
  font.GetTextSize("Hello, world", long_size);
  EXPECT_EQ(short_size.Status, 0);
  EXPECT_GT(short_size.Width, 0);
  EXPECT_GT(short_size.Height, 0);
  EXPECT_GT(long_size.Width, short_size.Width);
  EXPECT_EQ(long_size.Height, short_size.Height);
}

TEST_F(Fonts, RenderToTextureMakesOrReplacesATextureOfTheTextsSize) {
  CapturedLog log;
  FakeGL fake;
  TfntFont font(nullptr);
  TgglTexture2D tex;
  tex.ID = 3;
  font.RenderToTexture("Hi", 0, tex);
  EXPECT_EQ(tex.ID, 0u);
  EXPECT_TRUE(log.Has(lmetError, "TfntFont.RenderToTexture", "Font not loaded, but rendering called."));
  EXPECT_TRUE(fake.calls.empty());

  ASSERT_TRUE(font.LoadFont(kFontFile, &fs_, "dejavu-sans", 10));
  TfntTextSize size;
  font.GetTextSize("Hello", size);
  font.RenderToTexture("Hello", 0, tex);
  EXPECT_EQ(tex.ID, 1u);
  EXPECT_EQ(tex.Width, size.Width);
  EXPECT_EQ(tex.Height, size.Height);
  EXPECT_FLOAT_EQ(tex.U, static_cast<float>(size.Width) / static_cast<float>(NextPowerOfTwo(size.Width)));
  EXPECT_EQ(fake.Last("glTexImage2D")->args[3], NextPowerOfTwo(size.Width));

  font.RenderToTexture("Hello", 7, tex);
  EXPECT_EQ(tex.ID, 7u);
  EXPECT_EQ(fake.Count("glGenTextures"), 1u);

  fake.Clear();
  tex.ID = 9;
  tex.U = 0.5f;
  font.RenderToTexture("", 9, tex);
  EXPECT_EQ(tex.ID, 0u);
  EXPECT_EQ(tex.U, 0.0f);
  EXPECT_EQ(tex.Width, 0);
  EXPECT_TRUE(fake.calls.empty());

  // Without SDL_ttf: reported, then the missing font; an empty text is answered before either.
  font.CloseFont();
  TTF_Quit();
  const size_t entries = log.Size();
  font.RenderToTexture("", 0, tex);
  EXPECT_EQ(log.Size(), entries);
  font.RenderToTexture("Hello", 0, tex);
  EXPECT_TRUE(log.Has(lmetWarning, "TfntFont.RenderToTexture", "SDL_TTF not initialized"));
  EXPECT_EQ(log.Size(), entries + 2);
}

TEST_F(Fonts, RenderToTextureExFillsTheGivenTextureAndReportsTheCoveredPart) {
  CapturedLog log;
  FakeGL fake;
  TfntFont font(nullptr);
  ASSERT_TRUE(font.LoadFont(kFontFile, &fs_, "dejavu-sans", 10));
  TgglTexture2D none;
  none.U = 0.25f;
  font.RenderToTextureEx("Hello", none);
  EXPECT_TRUE(log.Has(lmetError, "TfntFont.RenderToTextureEx", "Need to have a given texture"));
  EXPECT_EQ(none.U, 0.25f);
  EXPECT_TRUE(fake.calls.empty());

  TfntTextSize size;
  font.GetTextSize("Hello", size);
  ASSERT_LE(size.Width, 64);
  ASSERT_LE(size.Height, 16);
  TgglTexture2D tex;
  tex.ID = 4;
  tex.Width = 64;
  tex.Height = 16;
  font.RenderToTextureEx("Hello", tex);
  EXPECT_FLOAT_EQ(tex.U, static_cast<float>(size.Width) / 64);
  EXPECT_FLOAT_EQ(tex.V, static_cast<float>(size.Height) / 16);
  EXPECT_EQ(tex.ID, 4u);
  EXPECT_EQ(tex.Width, 64);
  ASSERT_EQ(fake.calls.size(), 3u);
  EXPECT_EQ(fake.calls[0].args, (std::vector<double>{GL_TEXTURE_2D, 4}));
  EXPECT_EQ(fake.calls[1].name, "glTexSubImage2D");
  EXPECT_EQ(fake.calls[1].args,
            (std::vector<double>{GL_TEXTURE_2D, 0, 0, 0, static_cast<double>(size.Width),
                                 static_cast<double>(size.Height), GL_RGBA, GL_UNSIGNED_BYTE, 0}));
  EXPECT_EQ(fake.calls[2].args, (std::vector<double>{GL_TEXTURE_2D, 0}));
  EXPECT_EQ(log.CountLevel(lmetWarning), 0);

  // Too small a texture is uploaded all the same after a warning; a size of 0 must not fault.
  TgglTexture2D small;
  small.ID = 5;
  small.Width = 8;
  font.RenderToTextureEx("Hello", small);
  EXPECT_TRUE(log.Has(lmetWarning, "TfntFont.RenderToTextureEx", "Texture size mismatch"));
  EXPECT_FLOAT_EQ(small.U, static_cast<float>(size.Width) / 8);
  EXPECT_EQ(small.V, 0.0f);
  EXPECT_EQ(fake.Count("glTexSubImage2D"), 2u);

  font.CloseFont();
  TTF_Quit();
  font.RenderToTextureEx("Hello", tex);
  EXPECT_TRUE(log.Has(lmetWarning, "TfntFont.RenderToTextureEx", "SDL_TTF not initialized"));
  EXPECT_TRUE(log.Has(lmetError, "TfntFont.RenderToTextureEx", "Font not loaded, but rendering called."));
}

TEST_F(Fonts, TheManagerFindsFontsByFileAndSizeAndForgetsTheCurrentFontWhenItGoes) {
  CapturedLog log;
  TfntManager manager;
  TfntFont* a = manager.LoadFont(kFontFile, &fs_, "dejavu-sans", 10);
  EXPECT_EQ(manager.LoadFont(kFontFile, &fs_, "again", 10), a);
  EXPECT_EQ(manager.Count(), 1);
  EXPECT_EQ(a->Name(), "dejavu-sans");
  TfntFont* b = manager.LoadFont(kFontFile, &fs_, "big", 20);
  EXPECT_NE(b, a);
  EXPECT_EQ(manager.FindFont("FONTS/dejavu-lgc-sans.ttf", 10), nullptr);
  TfntFont* missing = manager.LoadFont("fonts/missing.ttf", &fs_, "missing", 10);
  EXPECT_EQ(manager.Count(), 3);  // kept although it failed
  EXPECT_EQ(missing->Font(), nullptr);
  EXPECT_EQ(manager.IndexOfName("big"), 1);
  EXPECT_EQ(manager.IndexOfName("nope"), -1);
  EXPECT_EQ(b->GetIndex(), 1);
  EXPECT_EQ(manager.AddFont()->Font(), nullptr);
  EXPECT_EQ(manager.AddFontRW(nullptr, "none", 10)->GetIndex(), 4);
  EXPECT_THROW(manager.GetFont(5), EListError);
  EXPECT_THROW(manager.GetFont(-1), EListError);

  manager.CurrentFont = b;
  manager.Remove(a);
  EXPECT_EQ(manager.CurrentFont, b);
  EXPECT_EQ(b->GetIndex(), 0);
  manager.Delete(0);
  EXPECT_EQ(manager.CurrentFont, nullptr);
  TfntFont stranger(nullptr);
  manager.Remove(&stranger);
  EXPECT_EQ(manager.Count(), 3);
  EXPECT_EQ(stranger.GetIndex(), -1);
  manager.CurrentFont = manager.GetFont(2);
  manager.Clear();
  EXPECT_EQ(manager.Count(), 0);
  EXPECT_EQ(manager.CurrentFont, nullptr);
}
