// The real program under what a hostile user does: key storms, long skips with rockets in flight,
// absurd settings, pipes in place of files, and signals. Each must end normally: exit status 0, the
// shut-down lines in "log.txt" and the closed table in "log.html".
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/e2e/starlace_run.h"

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Generous: a sanitizer build on a loaded machine is slow. Not a speed check, a freeze check.
constexpr double kEndWithin = 60.0;

void expect_normal_end(StarlaceRun& run) {
  EXPECT_EQ(run.wait_exit(kEndWithin), 0) << "log:\n" << run.log() << "\nstderr:\n" << run.stderr_text();
  const std::string log = run.log();
  const size_t runtime = log.find("[Info@TsdlApplication.RunApp]: Runtime: ");
  EXPECT_NE(runtime, std::string::npos) << log;
  EXPECT_NE(log.find("[Info@TtlManager.Destroy]: Waiting for all threads to get freed...\r\n", runtime),
            std::string::npos)
      << log;
  EXPECT_FALSE(contains(log, "[Fatal")) << log;
  const std::string html = run.html_log();
  ASSERT_GE(html.size(), 15u);
  EXPECT_EQ(html.substr(html.size() - 15), "</table></body>");
  EXPECT_EQ(run.own_leaks(), "");
}

void quit_normally(StarlaceRun& run) {
  ASSERT_TRUE(run.running()) << run.stderr_text();
  run.key("Escape");
  expect_normal_end(run);
}

// About 2000 keys over about 20 s with a fixed seed: every key the show answers, digits also with
// Shift, Ctrl and both (Ctrl names setup kinds that do not all exist), mostly digits.
TEST(Robustness, KeyStormThenEscapeEndsNormally) {
  StarlaceRun run;
  ASSERT_TRUE(run.start()) << run.stderr_text();
  std::mt19937 random(20261208u);
  const std::vector<std::string> commands = {"Return", "space", "BackSpace", "s", "r"};
  const std::vector<std::string> modifiers = {"", "", "", "shift+", "ctrl+", "ctrl+shift+"};
  constexpr int kKeys = 2000;
  constexpr int kKeysPerCall = 100;
  for (int sent = 0; sent < kKeys && run.running(); sent += kKeysPerCall) {
    std::vector<std::string> keys;
    for (int i = 0; i < kKeysPerCall; ++i) {
      if (random() % 4 == 0) {
        keys.push_back(commands[random() % commands.size()]);
      } else {
        keys.push_back(modifiers[random() % modifiers.size()] + std::to_string(1 + random() % 9));
      }
    }
    run.keys(keys, 10);
  }
  quit_normally(run);
  // The keys arrived: Ctrl with 5 to 9 names a setup kind that does not exist.
  EXPECT_TRUE(contains(run.log(), "[Warning@TFirework.KeyEvent]: No firework of kind")) << run.log();
}

// Nine rockets in flight (keys 1 to 9, 0.1 s apart), then a skip to 15 s, which they live through in
// one step.
TEST(Robustness, SkipWithRocketsInFlightStaysResponsive) {
  StarlaceRun run;
  ASSERT_TRUE(run.start()) << run.stderr_text();
  run.key("Return");
  run.keys({"1", "2", "3", "4", "5", "6", "7", "8", "9"}, 100);
  run.key("s");
  StarlaceRun::wait_for([] { return false; }, 2.0);
  quit_normally(run);
}

// Any finite lag is used as read: -1000 makes the whole song's script due at once, 1000000 keeps it
// waiting (a dark sky). Neither holds up the frame loop.
TEST(Robustness, HugeAudioLagsEitherWayKeepTheShowResponsive) {
  for (const std::string lag : {"-1000", "1000000"}) {
    StarlaceRun run;
    run.folder().write("settings.ini", "[audio]\nlag=" + lag + "\n");
    ASSERT_TRUE(run.start()) << run.stderr_text();
    run.key("Return");
    const bool lit = StarlaceRun::wait_for([&] { return run.screenshot().bright_pixels() >= 20; }, 5.0);
    EXPECT_EQ(lit, lag == "-1000") << lag;
    quit_normally(run);
  }
}

// Pipes in place of the settings files: read as missing (nothing would ever write to them).
TEST(Robustness, PipesAsSettingsFilesReadAsMissing) {
  StarlaceRun run;
  ASSERT_EQ(::mkfifo(run.folder().file("settings.dat").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(run.folder().file("settings.ini").c_str(), 0600), 0);
  ASSERT_TRUE(run.start()) << run.stderr_text();
  EXPECT_TRUE(contains(run.stdout_text(), "640x480")) << run.stdout_text();
  quit_normally(run);
}

// SIGTERM and SIGINT end the program as Escape does, also in the middle of a show.
TEST(Robustness, SigtermAndSigintShutDownLikeEscape) {
  for (const int signal_number : {SIGTERM, SIGINT}) {
    StarlaceRun run;
    // Under wine a POSIX signal ends the wine process itself; it never reaches the Windows
    // program's own handler (there the console's Ctrl+C event plays that part).
    if (run.windows_program()) GTEST_SKIP() << "POSIX signals do not reach a program under wine";
    ASSERT_TRUE(run.start()) << run.stderr_text();
    run.key("Return");
    run.key("1");
    run.send_signal(signal_number);
    expect_normal_end(run);
  }
}

}  // namespace

namespace {

// Whether the part occurs in the text exactly once.
bool once(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos && text.find(part) == text.rfind(part);
}

// A window may be larger than the display (Xvfb's 1024 x 768); a height beyond every display is
// bounded to the display's. The log gives the value read, and the show plays.
TEST(Robustness, WindowSizesBeyondEveryDisplayAreBounded) {
  StarlaceRun run;
  run.folder().write("settings.ini", "[video]\nwidth=1100\nheight=100000\n");
  ASSERT_TRUE(run.start()) << run.stderr_text();
  EXPECT_TRUE(contains(run.stdout_text(), "\n1100x768\n")) << run.stdout_text();
  EXPECT_FALSE(contains(run.log(), "Window width")) << run.log();
  EXPECT_TRUE(contains(run.log(), "]: Window height 100000 is larger than the display (768); using 768.\r\n"));
  run.key("1");
  quit_normally(run);
}

// Pipes in place of the HTML log and the heap trace are not opened (said once each on standard
// error); the show runs and shuts down as ever. A device (the style sheet here) is written like a
// file.
TEST(Robustness, PipesInPlaceOfTheLogsAreLeftAlone) {
  StarlaceRun run;
  if (run.windows_program()) GTEST_SKIP() << "Windows keeps its named pipes outside the file system";
  const std::vector<std::string> names = {"log.html", "heaptrc.txt"};
  for (const std::string& name : names) ASSERT_EQ(::mkfifo(run.folder().file(name).c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/null", run.folder().file("log.html.css").c_str()), 0);
  ASSERT_TRUE(run.start()) << run.stderr_text();
  run.key("Escape");
  EXPECT_EQ(run.wait_exit(kEndWithin), 0) << run.stderr_text();
  EXPECT_TRUE(contains(run.log(), "[Info@TtlManager.Destroy]: Waiting for all threads to get freed...\r\n"));
  for (const std::string& name : names)
    EXPECT_TRUE(once(run.stderr_text(), "\"" + run.folder().file(name) + "\": not a regular file.\n"));
  EXPECT_FALSE(contains(run.stderr_text(), "log.html.css")) << run.stderr_text();
}

// A log, the style sheet or the heap trace that cannot be created ends start-up: for a log with the
// stream's error on standard error, before anything is logged; for the heap trace with the fatal
// entry in the log.
TEST(Robustness, ADirectoryInPlaceOfALogEndsStartUp) {
  for (const std::string name : {"log.txt", "log.html", "log.html.css", "heaptrc.txt"}) {
    StarlaceRun run;
    ASSERT_TRUE(std::filesystem::create_directory(run.folder().file(name))) << name;
    EXPECT_FALSE(run.start()) << name;
    EXPECT_EQ(run.wait_exit(kEndWithin), 1) << name;
    const bool trace = name == "heaptrc.txt";  // its error is logged; a log's goes to standard error
    const std::string text = trace ? run.log() : run.stderr_text();
    EXPECT_TRUE(contains(text, trace ? "[Fatal@TsdlApplication.RunApp]: Exception occured during initialization: "
                                       "Exception class = EFCreateError; Message = Cannot create file \""
                                     : "EFCreateError: Cannot create file \""))
        << text;
    // Windows says "Permission denied", and names the file its own way.
    EXPECT_TRUE(contains(text, run.windows_program() ? name + "\". " : run.folder().file(name) + "\". Is a directory"))
        << text;
    EXPECT_TRUE(trace || run.stdout_text().empty()) << name << ": " << run.stdout_text();  // nothing was logged
  }
}

// Files that cannot grow past a size (RLIMIT_FSIZE: writes fail as on a full disk). An HTML log head
// that cannot be written ends start-up with an error naming the file; later, the first failed write
// of each log is said once on standard error with its name, and the show runs on.
TEST(Robustness, FailedLogWritesAreReportedOnceWithTheFileName) {
  for (const long limit : {205L, 25000L}) {  // 205: the style sheet (201 bytes) fits, the head (209) not
    StarlaceRun run;
    if (run.windows_program()) GTEST_SKIP() << "file size limits are POSIX";
    run.limit_file_size(limit);
    const std::string too_large = "\". File too large\n";
    if (limit == 205) {
      EXPECT_FALSE(run.start());
      EXPECT_EQ(run.wait_exit(kEndWithin), 1);
      EXPECT_TRUE(contains(run.stderr_text(), "EWriteError: Stream write error on file \"" +
                                                  run.folder().file("log.html") + too_large));
      continue;
    }
    // Error entries for every "r" (the scripts read again, one with a stray character) until both
    // logs are full, then more that fail too. Not a modifier key: an emulated run can see the
    // modifier released before it takes the digit, and fire rockets instead. A slow run can lose
    // keys (its event queue overflows), so no fixed count is enough.
    run.folder().write("data/songs/bbb/melody.txt", "$\n");
    run.folder().write("data/songs/bbb/guitar.txt", "");
    ASSERT_TRUE(run.start()) << run.stderr_text();
    const auto full = [&] { return std::min(run.log().size(), run.html_log().size()) >= size_t(limit); };
    const std::vector<std::string> errors(50, "r");
    for (int batch = 0; batch < 40 && !StarlaceRun::wait_for(full, 0.5); ++batch) run.keys(errors, 10);
    run.keys(errors, 10);
    run.key("Escape");
    EXPECT_EQ(run.wait_exit(kEndWithin), 0) << run.stderr_text();
    for (const char* name : {"log.txt", "log.html"})
      EXPECT_TRUE(once(run.stderr_text(), "Could not write to the log \"" + run.folder().file(name) + too_large));
  }
}

// "-h" naming one of the program's own logs is refused with a warning; the logs stay whole.
TEST(Robustness, AHeapTraceNamedLikeALogIsRefused) {
  StarlaceRun run;
  ASSERT_TRUE(run.start({"-h", "log.html"})) << run.stderr_text();
  EXPECT_TRUE(contains(run.log(), "]: The heap-trace file 'log.html' is the log '")) << run.log();
  quit_normally(run);
  EXPECT_EQ(run.html_log().rfind("<html><head>", 0), 0u);
}

}  // namespace
