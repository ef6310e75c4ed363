// The real program, started from a fresh folder under Xvfb, driven by keys.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>

#include "tests/e2e/starlace_run.h"

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Seconds to wait for things that should happen "within a few seconds" on a loaded machine.
constexpr double kPatience = 20.0;

void expect_in_order(const std::string& text, const std::vector<std::string>& parts) {
  size_t at = 0;
  for (const auto& part : parts) {
    const size_t p = text.find(part, at);
    ASSERT_NE(p, std::string::npos) << "missing, or out of order: " << part << "\nin:\n" << text;
    at = p + part.size();
  }
}

// Escape ends the program from any state.
void quit(StarlaceRun& run) {
  run.key("Escape");
  const int status = run.wait_exit(60);
  EXPECT_EQ(status, 0) << "log:\n" << run.log() << "\nstderr:\n" << run.stderr_text();
  EXPECT_EQ(run.own_leaks(), "");
}

bool bright(const StarlaceRun& run, size_t at_least = 20) { return run.screenshot().bright_pixels() >= at_least; }

TEST(Show, StartsAndShutsDownWithItsLogLines) {
  StarlaceRun run;
  ASSERT_TRUE(run.start()) << run.stderr_text();
  run.key("Escape");
  EXPECT_EQ(run.wait_exit(60), 0) << run.stderr_text();
  EXPECT_EQ(run.stdout_text().rfind("640x480\n", 0) != std::string::npos || contains(run.stdout_text(), "\n640x480\n"),
            true)
      << run.stdout_text();
  const std::string log = run.log();
  std::vector<std::string> lines = {"[Info@TsdlApplication.RunApp]: Quorl Sparkade V0.9.0 starting up.\r\n"};
  const std::vector<std::string> clock_lines = run.clock_log_lines();
  lines.insert(lines.end(), clock_lines.begin(), clock_lines.end());
  for (const char* line : {
           "[Info@TFirework.InitSDL]: SDL core initialized.\r\n",
           "[Info@TFirework.InitSDL]: TTF initialized.\r\n",
           "[Info@TFirework.InitSDL]: Caption set\r\n",
           "[Info@TFirework.InitSDL]: Window initialized.\r\n",
           "[Info@TFirework.InitSDL]: Settings initiaized.\r\n",
           "[Info@TFirework.InitSDL]: SDL setup finished\r\n",
           "[Info@TFirework.InitQuorl]: Initialized quorlOpenGL.\r\n",
           "[glInfo@Extensions]: ",
           "[Info@TFirework.InitQuorl]: OpenGL settings applied.\r\n",
           "[Info@TsdlApplication.RunApp]: Quorl Sparkade V0.9.0 initialized.\r\n",
           "[Info@TsdlApplication.RunApp]: Runtime: ",
           " secs\r\n",
           "[Info@TtlManager.Destroy]: Terminating texture thread...\r\n",
           "[Info@TtlManager.Destroy]: Done.\r\n",
           "[Info@TtlManager.Destroy]: Waiting for all threads to get freed...\r\n",
       })
    lines.push_back(line);
  expect_in_order(log, lines);
  // The clock is set up before the settings are read, so the Windows clock's debug entry stays.
  const size_t clock = log.find(clock_lines.back());
  ASSERT_NE(clock, std::string::npos);
  EXPECT_FALSE(contains(log.substr(log.find("\r\n", clock)), "[Debug"))
      << "debug entries are dropped once the settings are read";
  // The echo on standard output carries every line of the log byte for byte (on Windows too: its
  // CR LF gets no second CR).
  std::vector<std::string> log_lines;
  for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2)
    log_lines.push_back(log.substr(at, end + 2 - at));
  expect_in_order(run.stdout_text(), log_lines);
  EXPECT_FALSE(contains(run.stdout_text(), "\r\r\n"));
  EXPECT_FALSE(contains(log, "[Error")) << log;
  EXPECT_FALSE(contains(log, "[Fatal")) << log;
  const std::string html = run.html_log();
  EXPECT_EQ(html.rfind("<html><head><title>Log file</title>", 0), 0u);
  EXPECT_EQ(html.substr(html.size() - 15), "</table></body>");
  EXPECT_EQ(run.folder().read("log.html.css").size(), 201u);
  EXPECT_EQ(run.folder().read("heaptrc.txt").substr(0, 3), "***");
}

TEST(Show, SettingsIniSizesTheWindow) {
  StarlaceRun run;
  run.folder().write("settings.ini", "; window\n[video]\n  width=320\n  height=240\n");
  ASSERT_TRUE(run.start()) << run.stderr_text();
  EXPECT_TRUE(contains(run.stdout_text(), "320x240\n")) << run.stdout_text();
  const std::string geometry =
      run_command("DISPLAY=" + run.display().display() + " xdotool getwindowgeometry " + run.window_id());
  EXPECT_TRUE(contains(geometry, "Geometry: 320x240")) << geometry;
  quit(run);
}

TEST(Show, ReturnPlaysTheBundledShowSpaceFreezesBackspaceClears) {
  StarlaceRun run;
  ASSERT_TRUE(run.start()) << run.stderr_text();
  EXPECT_LT(run.screenshot().bright_pixels(), 5u) << "nothing plays before Return";
  run.key("Return");
  ASSERT_TRUE(StarlaceRun::wait_for([&] { return bright(run); }, kPatience)) << "no fireworks after Return";

  run.key("space");
  // The pause takes hold at the next frame, which a slow run may be late to draw.
  Screenshot a;
  ASSERT_TRUE(StarlaceRun::wait_for(
      [&] {
        const Screenshot before = std::move(a);
        a = run.screenshot();
        return a.bright_pixels() >= 20 && a.same_as(before);
      },
      kPatience));
  // Two equal pictures may also be one slow frame seen twice: judge a second later, from there.
  StarlaceRun::wait_for([] { return false; }, 1.0);
  a = run.screenshot();
  StarlaceRun::wait_for([] { return false; }, 1.0);
  const Screenshot b = run.screenshot();
  EXPECT_TRUE(a.same_as(b)) << "the picture must stand still while paused";
  EXPECT_GT(b.bright_pixels(), 0u) << "a paused show is still drawn";

  run.key("BackSpace");
  EXPECT_TRUE(StarlaceRun::wait_for([&] { return run.screenshot().bright_pixels() == 0; }, kPatience))
      << "Backspace clears the sky";
  quit(run);
}

TEST(Show, DigitKeyFiresARocketThatBursts) {
  StarlaceRun run;
  ASSERT_TRUE(run.start()) << run.stderr_text();
  run.key("1");
  // The rocket flies for half a second, then bursts into many sparks.
  size_t most = 0;
  StarlaceRun::wait_for(
      [&] {
        most = std::max(most, run.screenshot().bright_pixels());
        return most > 300;
      },
      kPatience);
  EXPECT_GT(most, 300u) << "a burst lights many pixels";
  // Keys that name no firework are ignored and the show goes on.
  run.key("ctrl+9");
  run.key("ctrl+shift+1");
  EXPECT_TRUE(run.running());
  quit(run);
  EXPECT_TRUE(contains(run.log(), "[Warning@TFirework.KeyEvent]")) << run.log();
  EXPECT_FALSE(contains(run.log(), "[Fatal")) << run.log();
}

// A song whose only rocket is launched at 16 s (it bursts at 18 s): skipping to 15 s brings it near.
TEST(Show, SkipJumpsToFifteenSecondsAndReloadReadsEditedScripts) {
  StarlaceRun run;
  run.folder().write("data/songs/bbb/melody.txt", "# one late rocket\n-18 launch(5, (0, 0, 0), NaN, 2);\n");
  run.folder().write("data/songs/bbb/guitar.txt", "");
  ASSERT_TRUE(run.start()) << run.stderr_text();
  run.key("Return");
  run.key("s");
  EXPECT_TRUE(StarlaceRun::wait_for([&] { return bright(run); }, 10.0)) << "the skipped-to rocket did not appear";

  // Stop, edit the script to fire at once, reload, start again.
  run.key("BackSpace");
  run.folder().write("data/songs/bbb/melody.txt", "-3 launch(3, (0, 0, 0), NaN, 2);\n");
  run.key("r");
  run.key("Return");
  EXPECT_TRUE(StarlaceRun::wait_for([&] { return bright(run); }, 10.0)) << "the reloaded script did not play";
  quit(run);
}

// A launch without a time has no moment to be due at: a script of nothing else fires nothing, on
// the first start as after a stop.
TEST(Show, AnUntimedOnlyScriptNeverFires) {
  StarlaceRun run;
  run.folder().write("data/songs/bbb/melody.txt", "launch(1, (0, 0, 0), NaN, 1);\n");
  run.folder().write("data/songs/bbb/guitar.txt", "");
  ASSERT_TRUE(run.start()) << run.stderr_text();
  run.key("Return");
  EXPECT_FALSE(StarlaceRun::wait_for([&] { return bright(run); }, 3.0)) << "the first start fired";
  run.key("BackSpace");
  run.key("Return");
  EXPECT_FALSE(StarlaceRun::wait_for([&] { return bright(run); }, 3.0)) << "the start after a stop fired";
  run.key("1");
  EXPECT_TRUE(StarlaceRun::wait_for([&] { return bright(run); }, kPatience)) << "the show no longer draws";
  quit(run);
}

TEST(Show, MissingMusicWarnsAndTheShowStillRuns) {
  StarlaceRun run;
  std::remove(run.data("songs/bbb/music.ogg").c_str());
  ASSERT_TRUE(run.start()) << run.stderr_text();
  EXPECT_TRUE(contains(run.log(),
                       "[Warning@TFirework.InitData]: Selected song does not provide a music file in a known format "
                       "(place 'music.mp3' or 'music.ogg' in song folder).\r\n"));
  run.key("Return");
  EXPECT_TRUE(StarlaceRun::wait_for([&] { return bright(run); }, kPatience));
  quit(run);
}

TEST(Show, SongFileErrorsAreLogged) {
  StarlaceRun run;
  run.folder().write("data/songs/bbb/melody.txt", "1 launch(0, (0,0,0), NaN, 2);\n$\n2 launch(1, (0,0,0), NaN, 2);\n");
  run.folder().write("data/songs/bbb/guitar.txt", "3 fly(1);\n");
  ASSERT_TRUE(run.start()) << run.stderr_text();
  const std::string log = run.log();
  EXPECT_TRUE(contains(log, "[Error@TSongDataParser.ParseStream]: Unexpected character in song data file at byte "))
      << log;
  EXPECT_TRUE(contains(log, " ('$').\r\n")) << log;
  EXPECT_TRUE(contains(log, "[Error@TSongScriptParser.ParseStream]: Unknown statement class: 'fly'")) << log;
  quit(run);
}

// The texture manager is asked for the missing texture and says so; the fatal entry of the start-up
// comes before the shut-down of what the data step had made.
TEST(Show, MissingParticleTextureEndsStartUpCleanly) {
  StarlaceRun run;
  std::remove(run.data("tex/particles.png").c_str());
  run.start();  // the window may show briefly before start-up fails
  EXPECT_EQ(run.wait_exit(60), 1);
  expect_in_order(run.log(),
                  {"[Error@GetTexture]: Texture with index 0 does not exists in this texture manager.\r\n",
                   "[Fatal@TFirework.InitData]",
                   "[Fatal@TsdlApplication.RunApp]: Exception occured during initialization: Exception class = "
                   "Exception; Message = Initialization error. See log for details.\r\n",
                   "[Info@TtlManager.Destroy]: Terminating texture thread...\r\n",
                   "[Info@TtlManager.Destroy]: Waiting for all threads to get freed...\r\n"});
  EXPECT_EQ(run.stderr_text().rfind("Exception: Initialization error. See log for details.\n", 0), 0u)
      << run.stderr_text();
  EXPECT_EQ(run.own_leaks(), "");
}

}  // namespace
