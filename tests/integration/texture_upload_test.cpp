// Loads a real PNG through the file system and the loader thread, uploads it into a real texture
// on Mesa under Xvfb and reads the texture back; renders text into a real texture the same way.
#include <SDL/SDL_ttf.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "framework/font_manager.h"
#include "framework/fs_manager.h"
#include "framework/gl_binding.h"
#include "framework/tex_manager.h"
#include "framework/threaded_loading.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"
#include "tests/support/xvfb.h"

namespace {

class GLWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(xvfb_.ok()) << xvfb_.error();
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    ASSERT_NE(SDL_SetVideoMode(64, 64, 0, SDL_OPENGL), nullptr) << SDL_GetError();
    std::string error;
    ASSERT_TRUE(LoadOpenGL(&error)) << error;
  }
  void TearDown() override {
    UnloadOpenGL();
    SDL_Quit();
  }
  // The RGBA bytes of level 0 of a texture of w x h texels.
  static std::vector<uint8_t> read_back(uint32_t name, int w, int h) {
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0xAB);
    gl.glBindTexture(GL_TEXTURE_2D, name);
    gl.glPixelStorei(GL_PACK_ALIGNMENT, 1);
    gl.glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
  }

  Xvfb xvfb_;
};

TEST_F(GLWindow, APngLoadedOnTheLoaderThreadBecomesARealTexture) {
  TempDir dir;
  dir.write("tex/particles.png", png_rgb_bytes(100, 50));
  TfsManager fs;
  fs.SetModDir(dir.path());
  TtexManager textures;
  TtlQueue results;
  {
    TtlManager manager;
    manager.SetThread(new TtlTextureThread(&results, &fs, &textures, false));
    ASSERT_EQ(manager.LoadTexture("tex/particles.png", tllmQueue, nullptr), tlsEnqueued);
    for (int i = 0; i < 500 && results.Count() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(results.Count(), 1);
    results.ProcessItems();
  }
  ASSERT_EQ(textures.Count(), 1);
  const uint32_t name = textures.GetTexture(0)->GetTextureName();
  ASSERT_NE(name, 0u);
  EXPECT_EQ(gl.glGetError(), static_cast<GLenum>(GL_NO_ERROR));

  const int w = 128, h = 64;
  const std::vector<uint8_t> pixels = read_back(name, w, h);
  EXPECT_EQ(gl.glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  int wrong = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &pixels[(static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 4];
      if (x < 100 && y < 50) {
        const TestRgb c = test_pattern(x, y);
        wrong += p[0] != c.r || p[1] != c.g || p[2] != c.b || p[3] != 255;
      } else {
        wrong += p[0] != 0 || p[1] != 0 || p[2] != 0 || p[3] != 0;
      }
    }
  }
  EXPECT_EQ(wrong, 0);
  // The minifying filter stays linear although mipmaps are generated.
  textures.GetTexture(0)->Bind();
  EXPECT_EQ(static_cast<TtexTexture2D*>(textures.GetTexture(0))->GetParameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
  textures.Clear();
}

TEST_F(GLWindow, TextRendersWhiteIntoARealTexture) {
  TempDir dir;
  dir.write("fonts/dejavu-lgc-sans.ttf", read_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
  TfsManager fs;
  fs.SetModDir(dir.path());
  ASSERT_EQ(TTF_Init(), 0);
  {
    TfntFont font(nullptr);
    ASSERT_TRUE(font.LoadFont("fonts/dejavu-lgc-sans.ttf", &fs, "dejavu-sans", 10));
    TgglTexture2D tex;
    font.RenderToTexture("Hello", 0, tex);
    ASSERT_NE(tex.ID, 0u);
    int w = 1, h = 1;
    while (w < tex.Width) w *= 2;
    while (h < tex.Height) h *= 2;
    const std::vector<uint8_t> pixels = read_back(tex.ID, w, h);
    int ink = 0, off_white = 0;
    for (size_t i = 0; i < pixels.size(); i += 4) {
      if (pixels[i + 3] == 0) continue;
      ++ink;
      off_white += pixels[i] != 255 || pixels[i + 1] != 255 || pixels[i + 2] != 255;
    }
    EXPECT_GT(ink, 20);
    EXPECT_EQ(off_white, 0);
    const GLuint name = tex.ID;
    gl.glDeleteTextures(1, &name);
  }
  TTF_Quit();
}

}  // namespace
