#include "show/show_settings.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

ShowIniSettings read(const std::string& text) {
  TempDir dir;
  dir.write("settings.ini", text);
  return ReadShowIniSettings(dir.file("settings.ini"));
}

TEST(ShowSettings, MissingFileGivesTheDefaults) {
  const ShowIniSettings s = ReadShowIniSettings("/nonexistent/settings.ini");
  EXPECT_EQ(s.Width, 640);
  EXPECT_EQ(s.Height, 480);
  EXPECT_FALSE(s.Fullscreen);
  EXPECT_DOUBLE_EQ(s.AudioLag, 0.25);
  EXPECT_FALSE(s.Smoke);
  EXPECT_TRUE(s.DepthSort);
}

TEST(ShowSettings, ValueRules) {
  const ShowIniSettings s = read(
      "[Video]\nwidth=800\nheight=abc\nfullscreen=yes\n"
      "[audio]\nlag=0.5\n"
      "[tweaks]\nsmoke=10\ndepthsort=0\n");
  EXPECT_EQ(s.Width, 800);
  EXPECT_EQ(s.Height, 480);     // not a number: the default
  EXPECT_FALSE(s.Fullscreen);   // does not begin with "1"
  EXPECT_DOUBLE_EQ(s.AudioLag, 0.5);
  EXPECT_TRUE(s.Smoke);         // begins with "1"
  EXPECT_FALSE(s.DepthSort);

  const ShowIniSettings t = read("[video]\nfullscreen=\nwidth=12px\n[audio]\nlag=0,5\n[tweaks]\ndepthsort=\n");
  EXPECT_FALSE(t.Fullscreen);   // empty: the default
  EXPECT_EQ(t.Width, 640);
  EXPECT_DOUBLE_EQ(t.AudioLag, 0.25);  // a comma is not the decimal point
  EXPECT_TRUE(t.DepthSort);
}

}  // namespace
