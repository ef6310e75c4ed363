#include "framework/sdl_manager.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "framework/helpers.h"
#include "framework/log_manager.h"
#include "platform/clock.h"
#include "tests/support/app_folder.h"
#include "tests/support/os.h"
#include "tests/support/temp_dir.h"

namespace {

std::deque<double> g_clock;
double fake_clock() {
  if (g_clock.empty()) return 0.0;
  const double v = g_clock.front();
  g_clock.pop_front();
  return v;
}

// Scripted readings of the application clock for one test.
class FakeClock {
 public:
  explicit FakeClock(std::initializer_list<double> readings) {
    g_clock.assign(readings);
    platform::set_clock_source(&fake_clock);
  }
  ~FakeClock() { platform::set_clock_source(nullptr); }
};

class TestApp : public TsdlApplication {
 public:
  TestApp() : TsdlApplication(0) {}
  std::string GetName() override { return name; }
  TsdlApplicationVersion GetVersion() override { return version; }
  void RenderFrame(float Delta) override {
    frames.push_back(Delta);
    if (fail_at == "RenderFrame") throw EInvalidArgument("bad frame");
  }
  void SkipFrame() override { ++skips; }
  void InitSDL() override { step("InitSDL"); TsdlApplication::InitSDL(); }
  void InitQuorl() override { step("InitQuorl"); TsdlApplication::InitQuorl(); }
  void InitData() override { step("InitData"); TsdlApplication::InitData(); }
  void DoneData() override { done("DoneData"); TsdlApplication::DoneData(); }
  void DoneQuorl() override { done("DoneQuorl"); TsdlApplication::DoneQuorl(); }
  void DoneSDL() override { done("DoneSDL"); TsdlApplication::DoneSDL(); }

  void pass(double last_frame_time) {
    LastFrameTime = last_frame_time;
    frame_pass();
  }
  double last_frame_time() const { return LastFrameTime; }

  std::string name = "Testapp";
  TsdlApplicationVersion version = MakeApplicationVersion(1, 2, 3, avsRelease);
  std::string fail_at;
  std::string fail_other_at;  // throws an object outside the exception family
  std::vector<float> frames;
  int skips = 0;
  std::vector<std::string> trail;

 private:
  void done(const std::string& s) {
    trail.push_back(s);
    LogGlobal(lmetInfo, s, "TestApp");
  }
  void step(const std::string& s) {
    trail.push_back(s);
    if (s == fail_at) throw Exception("Initialization error. See log for details.");
    if (s == fail_other_at) throw 42;
  }
};

TEST(FrameLoop, RendersOnlyWhenAHundredthOfASecondHasPassed) {
  TestApp app;
  {
    FakeClock clock{10.0, 10.005, 10.006};  // t0, now, t3
    app.pass(10.0);
  }
  EXPECT_EQ(app.skips, 1);
  EXPECT_TRUE(app.frames.empty());
  {
    FakeClock clock{0.0, 0.01, 0.01, 0.02, 0.02};  // exactly 0.01 s renders
    app.pass(0.0);
  }
  ASSERT_EQ(app.frames.size(), 1u);
  EXPECT_EQ(app.frames[0], 0.01f);
  EXPECT_DOUBLE_EQ(app.last_frame_time(), 0.01);
}

#ifndef _WIN32
// A thread started outside platform::Thread, as SDL and the GL driver start theirs: it must find
// the quit signals blocked already (exit 4 if not). It sends the signal to the whole process.
void* send_from_foreign_thread(void* signal_number) {
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  if (sigismember(&mask, SIGINT) != 1 || sigismember(&mask, SIGTERM) != 1) std::_Exit(4);
  kill(getpid(), *static_cast<int*>(signal_number));
  return nullptr;
}
#endif

// Two passes with the signal sent between them; exits 0 when the second pass quit (and, as after
// Escape, still ran its frame) and the first did not.
[[noreturn]] void run_passes_around_signal(int signal_number) {
  TestApp app;
#ifndef _WIN32
  std::signal(signal_number, [](int) { std::_Exit(5); });  // as SDL installs one: it must never run
#endif
  install_quit_signal_handlers();
  FakeClock clock{0.0, 0.02, 0.02, 0.03, 0.03, 1.0, 1.02, 1.02, 1.03, 1.03};
  app.pass(0.0);
  if (app.IsTerminated()) std::exit(2);
#ifdef _WIN32
  std::raise(signal_number);  // handled: the process goes on
#else
  // The process goes on: no thread takes the signal, which waits for the next pass.
  pthread_t sender;
  if (pthread_create(&sender, nullptr, send_from_foreign_thread, &signal_number) != 0) std::exit(6);
  pthread_join(sender, nullptr);
#endif
  app.pass(1.0);
  std::exit(app.IsTerminated() && app.frames.size() == 2 ? 0 : 3);
}

// In a child process each: the signal's mark, the handler and the blocked signals stay for the
// life of the process.
TEST(FrameLoop, SigintAndSigtermQuitAtTheNextPass) {
  EXPECT_EXIT(run_passes_around_signal(SIGINT), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(run_passes_around_signal(SIGTERM), ::testing::ExitedWithCode(0), "");
}

TEST(FrameLoop, MeasuresAcrossTheMinuteWrap) {
  TestApp app;
  {
    FakeClock clock{0.0, 0.004, 0.004};
    app.pass(59.995);  // 0.009 s: skipped
  }
  EXPECT_EQ(app.skips, 1);
  {
    FakeClock clock{0.0, 0.004, 0.004, 0.005, 0.005};
    app.pass(59.990);  // 0.014 s: rendered
  }
  ASSERT_EQ(app.frames.size(), 1u);
  EXPECT_NEAR(app.frames[0], 0.014f, 1e-5);
}

TEST(FrameLoop, FiguresStayZeroUntilAFullSecondWasGathered) {
  TestApp app;
  // Each rendered pass spends 0.3 s inside RenderFrame and 0.4 s in the whole pass.
  double base = 0.0;
  for (int i = 0; i < 3; ++i) {
    FakeClock clock{base, base + 0.05, base + 0.05, base + 0.35, base + 0.4};
    app.pass(base);
    EXPECT_EQ(app.GetRenderFPS(), 0.0);
    if (i < 2) {
      EXPECT_EQ(app.GetFPS(), 0.0);
    }
    base += 1.0;
  }
  EXPECT_NEAR(app.GetFPS(), 3 / 1.2, 1e-9);  // 3 frames over 1.2 s of loop time
  FakeClock clock{base, base + 0.05, base + 0.05, base + 0.35, base + 0.4};
  app.pass(base);
  EXPECT_NEAR(app.GetRenderFPS(), 4 / 1.2, 1e-9);  // 4 frames over 1.2 s of render time
}

TEST(InitLevels, ClimbAndUndoOnlyWhatWasReached) {
  struct Case {
    std::string fail_at;
    TsdlInitLevels reached;
    std::vector<std::string> undone;
  };
  const std::vector<Case> cases = {
      {"InitSDL", 0, {}},
      {"InitQuorl", InitLevelBit(ilSDL), {"DoneSDL"}},
      {"InitData", InitLevelBit(ilSDL) | InitLevelBit(ilQuorl), {"DoneQuorl", "DoneSDL"}},
      {"", InitLevelBit(ilSDL) | InitLevelBit(ilQuorl) | InitLevelBit(ilData), {"DoneData", "DoneQuorl", "DoneSDL"}},
  };
  for (const auto& c : cases) {
    AppFolder folder;
    TestApp app;
    app.fail_at = c.fail_at;
    if (c.fail_at.empty()) {
      app.InitAll();
    } else {
      EXPECT_THROW(app.InitAll(), Exception) << c.fail_at;
    }
    EXPECT_EQ(app.GetInitLevels(), c.reached) << c.fail_at;
    app.trail.clear();
    app.DoneAll();
    EXPECT_EQ(app.trail, c.undone) << c.fail_at;
    EXPECT_EQ(app.GetInitLevels(), 0u);
    EXPECT_EQ(app.GetSettings(), nullptr);
    app.trail.clear();
    app.DoneAll();  // a second shut-down finds nothing to undo
    EXPECT_TRUE(app.trail.empty());
  }
}

TEST(RunApp, AFailingStepIsLoggedUndoneAndRaisedAgain) {
  AppFolder folder;
  {
    TestApp app;
    app.fail_at = "InitQuorl";
    EXPECT_THROW(app.RunApp(), Exception);
    EXPECT_EQ(app.GetInitLevels(), 0u);
  }
  const std::string log = folder.dir.read("log.txt");
  EXPECT_NE(log.find("[Info@TsdlApplication.RunApp]: Testapp V1.2.3 starting up.\r\n"), std::string::npos);
  const size_t clock = log.find(clock_log_line());
  EXPECT_NE(clock, std::string::npos) << log;
  // Windows reads the performance counter and reports its frequency, at debug level, right after.
  if (!clock_frequency_log_line().empty() && clock != std::string::npos) {
    EXPECT_EQ(log.substr(clock + clock_log_line().size(), clock_frequency_log_line().size()),
              clock_frequency_log_line());
  }
  EXPECT_NE(log.find("[Fatal@TsdlApplication.RunApp]: Exception occured during initialization: Exception class = "
                     "Exception; Message = Initialization error. See log for details.\r\n"),
            std::string::npos);
  EXPECT_EQ(log.find("initialized."), std::string::npos);
  EXPECT_EQ(GlobalLogFile, nullptr);  // freed by the destructor
}

TEST(RunApp, OtherFailuresOfStartUpAndTheFrameLoop) {
  {
    AppFolder folder;
    {
      TestApp app;
      app.fail_other_at = "InitQuorl";
      EXPECT_THROW(app.RunApp(), int);
      EXPECT_EQ(app.trail, (std::vector<std::string>{"InitSDL", "InitQuorl", "DoneSDL"}));
    }
    const std::string log = folder.dir.read("log.txt");
    EXPECT_NE(log.find("[Fatal@TsdlApplication.RunApp]: Exception occured during initialization. Couldn't identify "
                       "exception.\r\n[Info@TestApp]: DoneSDL\r\n"),
              std::string::npos)
        << log;
  }
  // A failure in the loop is logged without context, undoes every level and ends the run quietly.
  AppFolder folder;
  {
    TestApp app;
    app.fail_at = "RenderFrame";
    app.RunApp();
    EXPECT_EQ(app.trail,
              (std::vector<std::string>{"InitSDL", "InitQuorl", "InitData", "DoneData", "DoneQuorl", "DoneSDL"}));
    EXPECT_EQ(app.GetInitLevels(), 0u);
  }
  const std::string log = folder.dir.read("log.txt");
  const std::string tail = "[Info@TsdlApplication.RunApp]: Testapp V1.2.3 initialized.\r\n"
                           "[Fatal@TsdlApplication.RunApp]: Exception occured Exception class = EInvalidArgument; "
                           "Message = bad frame\r\n"
                           "[Info@TestApp]: DoneData\r\n[Info@TestApp]: DoneQuorl\r\n[Info@TestApp]: DoneSDL\r\n"
                           "[Info@TsdlApplication.RunApp]: Testapp V1.2.3 shut down.\r\n";
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log;
}

TEST(Version, StringCarriesTheStatusText) {
  TestApp app;
  EXPECT_EQ(app.GetVersionString(), "V1.2.3");
  app.version = MakeApplicationVersion(0, 9, 0, avsBeta);
  EXPECT_EQ(app.GetVersionString(), "V0.9.0 beta");
  app.version = MakeApplicationVersion(0, 9, 0, avsDevelopmentVersion);
  EXPECT_EQ(app.GetVersionString(), "V0.9.0 development edition");
  app.version = MakeApplicationVersion(0, 9, 0, static_cast<TsdlApplicationVersionStatus>(17));
  EXPECT_EQ(app.GetVersionString(), "V0.9.0");
}

TEST(HeapTrace, HeaderIsFramedByAsterisksMatchingTheLine) {
  AppFolder folder;
  SetCommandLine({"prog"});
  TestApp app;  // "Testapp V1.2.3": a 40-byte middle line
  app.WriteHeapTraceHeader();
  const std::string stars = std::string(38, '*') + "\r\n";
  const std::string expected = stars + "*** HeapTrc dump of Testapp V1.2.3 ***\r\n" + stars;
  EXPECT_EQ(folder.dir.read("heaptrc.txt"), expected);
  EXPECT_EQ(expected.size(), 120u);
}

TEST(CommandLine, HeapTraceSwitchCases) {
  auto value = [](std::vector<std::string> args) {
    args.insert(args.begin(), "prog");
    SetCommandLine(args);
    return GetCommandLineParams({"-h"}, {}, "", 1)[0];
  };
  EXPECT_EQ(value({}), "");
  EXPECT_EQ(value({"-h", "trace.txt"}), "trace.txt");
  EXPECT_EQ(value({"-h"}), "");
  EXPECT_EQ(value({"-h", "a", "-h", "b"}), "b");
  EXPECT_EQ(value({"-h", "-x"}), "-x");
  EXPECT_EQ(value({"", "-h", "after-empty"}), "");
  EXPECT_EQ(value({"junk", "-h", "t"}), "t");
  SetCommandLine({"prog", "-a", "1", "--", "-b", "2"});
  EXPECT_EQ(GetCommandLineParams({"-a", "-b"}, {"x", "y"}, "--", 1), (TgglSplitParamList{"1", "y"}));
  SetCommandLine({"prog"});
}

TEST(Settings, FileCoversOnlyWhatItHolds) {
  TempDir dir;
  auto load = [&](const std::string* bytes) {
    if (bytes) dir.write("settings.dat", *bytes);
    TsdlSettings s;
    s.LoadFromFile(dir.file("settings.dat"), true);
    return s;
  };
  TsdlSettings missing = load(nullptr);
  EXPECT_EQ(missing.Width, 800);
  EXPECT_EQ(missing.Height, 600);
  EXPECT_EQ(missing.BPP, 32);
  EXPECT_FALSE(missing.Fullscreen);

  const std::string empty;
  TsdlSettings e = load(&empty);
  EXPECT_EQ(e.Width, 0);
  EXPECT_EQ(e.Height, 0);
  EXPECT_EQ(e.BPP, 0);

  const std::string three("\x80\x02\xE0", 3);
  TsdlSettings s3 = load(&three);
  EXPECT_EQ(s3.Width, 640);
  EXPECT_EQ(s3.Height, 224);
  EXPECT_EQ(s3.BPP, 0);
  EXPECT_FALSE(s3.Fullscreen);

  const std::string longer("\x20\x03\x58\x02\x10\x00\x02\xFF\xFF", 9);
  TsdlSettings s9 = load(&longer);
  EXPECT_EQ(s9.Width, 800);
  EXPECT_EQ(s9.BPP, 16);
  EXPECT_TRUE(s9.Fullscreen);
}

TEST(Settings, SavedFileReadsBackAndMatchesTheDefaultBytes) {
  TempDir dir;
  TsdlSettings s;
  s.SetDefaults();
  s.SaveToFile(dir.file("a.dat"));
  EXPECT_EQ(dir.read("a.dat"), std::string("\x20\x03\x58\x02\x20\x00\x00", 7));
  s.Width = 1024;
  s.Fullscreen = true;
  s.SaveToFile(dir.file("b.dat"));
  TsdlSettings r;
  r.LoadFromFile(dir.file("b.dat"), false);
  EXPECT_EQ(r.Width, 1024);
  EXPECT_EQ(r.Height, 600);
  EXPECT_TRUE(r.Fullscreen);
  EXPECT_EQ(static_cast<uint8_t>(dir.read("b.dat")[6]), 1);

  // The full-screen byte is written back as it was read.
  dir.write("c.dat", std::string("\x20\x03\x58\x02\x20\x00\x02", 7));
  TsdlSettings c;
  c.LoadFromFile(dir.file("c.dat"), false);
  c.SaveToFile(dir.file("d.dat"));
  EXPECT_EQ(dir.read("d.dat"), dir.read("c.dat"));
}

}  // namespace
