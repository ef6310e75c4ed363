#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "framework/helpers.h"
#include "tests/framework/captured_log.h"
#include "tests/support/fake_gl.h"

namespace {
using Texel = std::array<uint8_t, 4>;

SDL_Surface* rgba_surface(int w, int h) {
  return SDL_CreateRGBSurface(0, w, h, 32, 0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF);
}

void put_pixel(SDL_Surface* s, int x, int y, Uint32 value) {
  auto* row = static_cast<uint8_t*>(s->pixels) + y * s->pitch;
  std::memcpy(row + x * s->format->BytesPerPixel, &value, s->format->BytesPerPixel);
}

Uint32 get_pixel(SDL_Surface* s, int x, int y) {
  Uint32 value = 0;
  const auto* row = static_cast<const uint8_t*>(s->pixels) + y * s->pitch;
  std::memcpy(&value, row + x * s->format->BytesPerPixel, s->format->BytesPerPixel);
  return value;
}

Texel texel(const FakeGL& fake, int x, int y) {
  const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(fake.tex_image_width) + static_cast<size_t>(x)) * 4;
  return {fake.tex_image[at], fake.tex_image[at + 1], fake.tex_image[at + 2], fake.tex_image[at + 3]};
}

std::vector<std::string> call_names(const FakeGL& fake) {
  std::vector<std::string> names;
  for (const auto& c : fake.calls) names.push_back(c.name);
  return names;
}
}  // namespace

TEST(SurfaceToTexture, RoundsEachSideUpToAPowerOfTwoAndReportsTheCoveredPart) {
  struct Case {
    int w, h, tex_w, tex_h;
    float u, v;
  };
  for (const Case& c : {Case{1, 1, 1, 1, 1.0f, 1.0f}, Case{100, 50, 128, 64, 0.78125f, 0.78125f},
                        Case{256, 256, 256, 256, 1.0f, 1.0f}, Case{257, 3, 512, 4, 257.0f / 512, 0.75f}}) {
    FakeGL fake;
    SDL_Surface* s = rgba_surface(c.w, c.h);
    SDL_FillRect(s, nullptr, 0x102030FF);
    TgglTexture2D tex;
    SDLSurfaceToGLTexture(s, true, 0, tex);
    const GLCall* image = fake.Last("glTexImage2D");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->args[3], c.tex_w) << c.w;
    EXPECT_EQ(image->args[4], c.tex_h) << c.h;
    EXPECT_FLOAT_EQ(tex.U, c.u);
    EXPECT_FLOAT_EQ(tex.V, c.v);
    EXPECT_EQ(tex.Width, c.w);
    EXPECT_EQ(tex.Height, c.h);
    EXPECT_EQ(tex.ID, 1u);
    // The image lies in the top-left corner as red, green, blue, alpha bytes; the rest is
    // transparent black.
    EXPECT_EQ(texel(fake, c.w - 1, c.h - 1), (Texel{0x10, 0x20, 0x30, 0xFF}));
    if (c.tex_w > c.w) {
      EXPECT_EQ(texel(fake, c.w, 0), (Texel{0, 0, 0, 0}));
    }
    if (c.tex_h > c.h) {
      EXPECT_EQ(texel(fake, 0, c.h), (Texel{0, 0, 0, 0}));
    }
    SDL_FreeSurface(s);
  }
}

TEST(SurfaceToTexture, UploadsBetweenTwoIdenticalParameterPassesAndLeavesTheTextureBound) {
  FakeGL fake;
  fake.next_texture = 9;
  SDL_Surface* s = rgba_surface(4, 4);
  TgglTexture2D tex;
  SDLSurfaceToGLTexture(s, true, 0, tex);
  const std::vector<std::string> expected{"glGenTextures", "glBindTexture", "glTexParameteri", "glTexParameteri",
                                          "glTexParameteri", "glTexImage2D", "glTexParameteri", "glTexParameteri",
                                          "glTexParameteri"};
  EXPECT_EQ(call_names(fake), expected);
  EXPECT_EQ(fake.calls[1].args, (std::vector<double>{GL_TEXTURE_2D, 9}));
  const std::vector<std::vector<double>> params{{GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR},
                                                {GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR},
                                                {GL_TEXTURE_2D, GL_GENERATE_MIPMAP, 1}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(fake.calls[2 + i].args, params[i]);
    EXPECT_EQ(fake.calls[6 + i].args, params[i]);
  }
  EXPECT_EQ(fake.calls[5].args, (std::vector<double>{GL_TEXTURE_2D, 0, GL_RGBA, 4, 4, 0, GL_RGBA, GL_UNSIGNED_BYTE, 0}));
  EXPECT_EQ(fake.Count("glBindTexture"), 1u);  // no unbind afterwards
  SDL_FreeSurface(s);
}

TEST(SurfaceToTexture, CopiesTheAlphaChannelUnblendedAndRestoresTheSourceAlphaSettings) {
  FakeGL fake;
  SDL_Surface* s = rgba_surface(2, 1);
  put_pixel(s, 0, 0, 0xC8643250);  // red 200, green 100, blue 50, alpha 80
  put_pixel(s, 1, 0, 0x00000000);
  SDL_SetAlpha(s, SDL_SRCALPHA, 128);
  TgglTexture2D tex;
  SDLSurfaceToGLTexture(s, true, 0, tex);
  EXPECT_EQ(texel(fake, 0, 0), (Texel{200, 100, 50, 80}));
  EXPECT_EQ(texel(fake, 1, 0), (Texel{0, 0, 0, 0}));
  EXPECT_TRUE(s->flags & SDL_SRCALPHA);
  EXPECT_EQ(s->format->alpha, 128);
  SDL_FreeSurface(s);
}

TEST(SurfaceToTexture, ASourceWithoutAlphaGivesOpaqueTexels) {
  FakeGL fake;
  SDL_Surface* s = SDL_CreateRGBSurface(0, 3, 2, 24, 0x0000FF, 0x00FF00, 0xFF0000, 0);
  put_pixel(s, 2, 1, 0x563412);
  TgglTexture2D tex;
  SDLSurfaceToGLTexture(s, true, 0, tex);
  EXPECT_EQ(texel(fake, 2, 1), (Texel{0x12, 0x34, 0x56, 0xFF}));
  EXPECT_EQ(texel(fake, 0, 0), (Texel{0, 0, 0, 0xFF}));
  EXPECT_EQ(texel(fake, 3, 1), (Texel{0, 0, 0, 0}));  // padding stays transparent
  SDL_FreeSurface(s);
}

TEST(SurfaceToTexture, AGivenTextureNameIsReusedAndAZeroNameStopsBeforeUploading) {
  FakeGL fake;
  SDL_Surface* s = rgba_surface(5, 5);
  TgglTexture2D tex;
  SDLSurfaceToGLTexture(s, true, 42, tex);
  EXPECT_EQ(fake.Count("glGenTextures"), 0u);
  EXPECT_EQ(tex.ID, 42u);
  EXPECT_EQ(fake.Last("glBindTexture")->args[1], 42);
  EXPECT_EQ(fake.Count("glTexImage2D"), 1u);

  fake.Clear();
  fake.next_texture = 0;  // the driver hands out no name
  TgglTexture2D none;
  none.ID = 77;
  SDLSurfaceToGLTexture(s, true, 0, none);
  EXPECT_EQ(none.ID, 0u);
  EXPECT_FLOAT_EQ(none.U, 5.0f / 8);
  EXPECT_EQ(none.Width, 5);
  EXPECT_EQ(call_names(fake), std::vector<std::string>{"glGenTextures"});
  SDL_FreeSurface(s);
}

TEST(SurfaceToTexture, AConversionSurfaceThatCannotBeMadeIsLoggedAndNothingIsUploaded) {
  CapturedLog log;
  FakeGL fake;
  // SDL refuses surfaces 16384 pixels wide, the power of two above this image's width.
  SDL_Surface* s = SDL_CreateRGBSurface(0, 8193, 1, 24, 0x0000FF, 0x00FF00, 0xFF0000, 0);
  ASSERT_NE(s, nullptr);
  TgglTexture2D tex;
  tex.ID = 5;
  SDLSurfaceToGLTexture(s, true, 0, tex);
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_EQ(tex.ID, 5u);
  EXPECT_EQ(tex.Width, 0);
  EXPECT_TRUE(log.Has(lmetError, "SDLSurfaceToGLTexture",
                      "Couldn't create conversion surface. Texture won't be converted."));
  SDL_FreeSurface(s);
}

TEST(SurfaceToTexture, CopySurfaceCopiesTheCommonCornerWithAlpha) {
  SDL_Surface* src = rgba_surface(64, 64);
  SDL_FillRect(src, nullptr, 0x11223344);
  SDL_SetAlpha(src, SDL_SRCALPHA, 200);
  SDL_Surface* dst = rgba_surface(32, 128);
  SDLCopySurface(src, dst);
  EXPECT_EQ(get_pixel(dst, 0, 0), 0x11223344u);
  EXPECT_EQ(get_pixel(dst, 31, 63), 0x11223344u);
  EXPECT_EQ(get_pixel(dst, 0, 64), 0u);
  EXPECT_EQ(get_pixel(dst, 31, 127), 0u);
  EXPECT_TRUE(src->flags & SDL_SRCALPHA);
  EXPECT_EQ(src->format->alpha, 200);
  SDL_FreeSurface(src);
  SDL_FreeSurface(dst);
}
