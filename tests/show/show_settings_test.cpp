#include "show/show_settings.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "tests/framework/captured_log.h"
#include "tests/support/os.h"
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

TEST(ShowSettings, APipeInPlaceOfTheFileGivesTheDefaultsWithoutWaiting) {
  TempDir dir;
  if (!make_pipe(dir.file("settings.ini"))) GTEST_SKIP() << "no named pipes in this file system";
  EXPECT_EQ(ReadShowIniSettings(dir.file("settings.ini")).Width, 640);
}

#ifndef _WIN32
// A file swapped for a pipe after any check by name never holds the reader: the open does not
// wait, and what it opened is checked.
TEST(ShowSettings, AFileSwappedForAPipeNeverHoldsTheReader) {
  TempDir dir;
  if (!make_pipe(dir.file("pipe"))) GTEST_SKIP() << "no named pipes in this file system";
  dir.write("regular", "[video]\nwidth=800\n");
  const std::string ini = dir.file("settings.ini"), next = dir.file("next");
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    for (int i = 0; !stop; ++i) {
      ::link(dir.file(i % 2 ? "pipe" : "regular").c_str(), next.c_str());
      ::rename(next.c_str(), ini.c_str());  // replaces the name in one step
    }
  });
  auto reads = std::async(std::launch::async, [&] {
    for (int i = 0; i < 20000; ++i) ReadShowIniSettings(ini);
  });
  EXPECT_EQ(reads.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "a read waited on the pipe";
  stop = true;
  swapper.join();
  // A reader held by the pipe is let go by a writer that comes and leaves, so the test can end.
  while (reads.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    const int writer = ::open(dir.file("pipe").c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
  }
}
#endif

TEST(ShowSettings, EveryFiniteAudioLagIsUsedAsReadAndAnyOtherGivesTheDefaultSilently) {
  CapturedLog log;
  EXPECT_DOUBLE_EQ(read("[audio]\nlag=1e9\n").AudioLag, 1e9);
  EXPECT_DOUBLE_EQ(read("[audio]\nlag=-1000\n").AudioLag, -1000.0);
  for (const char* text : {"abc", "nan", "inf", "5,0", "0x1p-3", ""})
    EXPECT_DOUBLE_EQ(read(std::string("[audio]\nlag=") + text + "\n").AudioLag, 0.25) << text;
  EXPECT_EQ(log.Size(), 0u) << log.Text();
}

// Any size from 1 up to the display's or 4096, whichever is larger, is kept; below 1 gives the
// default and beyond that bound the display's, each with a warning.
TEST(ShowSettings, WindowDimensions) {
  CapturedLog log;
  EXPECT_EQ(WindowDimension("width", 1100, 640, 1024), 1100);
  EXPECT_EQ(WindowDimension("height", 5000, 480, 6000), 5000);
  EXPECT_EQ(WindowDimension("height", 4096, 480, 0), 4096);  // display not known
  EXPECT_EQ(log.Size(), 0u) << log.Text();
  EXPECT_EQ(WindowDimension("width", 0, 640, 1024), 640);
  EXPECT_EQ(WindowDimension("height", 65535, 480, 0), 4096);
  const std::string warning = "[Warning@TFirework.LoadSettings]: Window ";
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{warning + "width 0 is not a size; using 640.",
                                                   warning + "height 65535 is larger than the display (4096); using 4096."}));
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

TEST(ShowSettings, IndentedKeysAndOddNumbers) {
  // Indented lines are keys of their own, not continuations of the value above.
  const ShowIniSettings s = read("[video]\r\n  width=320\r\n\theight=240\r\n  [audio]\r\n  lag=0.125\r\n");
  EXPECT_EQ(s.Width, 320);
  EXPECT_EQ(s.Height, 240);
  EXPECT_DOUBLE_EQ(s.AudioLag, 0.125);

  const ShowIniSettings t = read("[video]\nwidth=5000000000\nheight=-1\n[audio]\nlag=-5e-1\n");
  EXPECT_EQ(t.Width, 640);  // beyond a 32-bit integer: the default
  EXPECT_EQ(t.Height, -1);  // a number; what the window can take is decided with the display
  EXPECT_DOUBLE_EQ(t.AudioLag, -0.5);
}

}  // namespace
