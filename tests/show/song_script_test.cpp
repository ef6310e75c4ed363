#include "show/song_script.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "framework/fs_manager.h"
#include "tests/show/song_test_support.h"

namespace {

const double kInf = std::numeric_limits<double>::infinity();

// "<time> launch(<kind>, (0, 0, 0), NaN, 1);"
std::string Launch(const std::string& time, int kind) {
  return time + " launch(" + std::to_string(kind) + ", (0, 0, 0), NaN, 1);";
}

const TSongScriptActionLaunch& LaunchAt(const TSongScript& script, size_t i) {
  return dynamic_cast<const TSongScriptActionLaunch&>(*script.Actions.at(i));
}

std::vector<double> Times(const TSongScript& script) {
  std::vector<double> times;
  for (const auto& action : script.Actions) times.push_back(action->Time);
  return times;
}

std::vector<int32_t> Kinds(const RecordingTarget& target) {
  std::vector<int32_t> kinds;
  for (const auto& call : target.calls) kinds.push_back(call.kind);
  return kinds;
}

}  // namespace

TEST(SongScript, BaseShiftsAndBurstTimes) {
  TSongScript script(nullptr);
  LoadScriptText(script, "10 base;" + Launch("1.5", 0) + "-2 base;" + Launch("1", 0) + "0 base;" + Launch("1", 0) +
                             "4 base; base;" + Launch("1", 0) + "3 base; -1 setup(0, (0, 0, 0), 1);" +
                             "0 base; -12 launch(0, (1, 2, 3), NaN, 2); 10 base; -12 launch(0, (0, 0, 0), (0, 10, 0), NaN);");
  EXPECT_EQ(Times(script), (std::vector<double>{11.5, 9, 1, 1, -4, 10, 21.5}));
  EXPECT_EQ(LaunchAt(script, 5).velocity, (TKZ_Vectorf3{0, 2.5f, 0}));
  EXPECT_EQ(LaunchAt(script, 5).position, (TKZ_Vectorf3{1, 2, 3}));
  EXPECT_EQ(LaunchAt(script, 5).dafter, 2);
  EXPECT_EQ(LaunchAt(script, 6).dafter, 0.5);
  // The shift lives for one file.
  LoadScriptText(script, Launch("1", 0), true);
  EXPECT_EQ(script.Actions.back()->Time, 1);
}

TEST(SongScript, LaunchLifeTimesAndHalfToEvenKinds) {
  TSongScript script(nullptr);
  LoadScriptText(script,
                 "1 launch(2.5, (0, 0, 0), (0, 10, 0), NaN); 1 launch(3.5, (0, 0, 0), (0, 10, 0), 3);"
                 "1 launch(-2.5, (0, 0, 0), (3, 4, 0), NaN); 1 setup(0.5, (0, 0, 0), -3);");
  EXPECT_EQ(LaunchAt(script, 0).rk, 2);
  EXPECT_EQ(LaunchAt(script, 0).dafter, 0.5);
  EXPECT_EQ(LaunchAt(script, 1).rk, 4);
  EXPECT_EQ(LaunchAt(script, 1).dafter, 3);
  EXPECT_EQ(LaunchAt(script, 2).rk, -2);
  EXPECT_EQ(LaunchAt(script, 2).dafter, 1);
  EXPECT_EQ(dynamic_cast<const TSongScriptActionSetup&>(*script.Actions[3]).sp, 0);
  EXPECT_EQ(script.Actions[0]->AsText(), "[launch@1.00] rk: 2; velocity: (0.00|10.00|0.00); dafter: 0.50");
  EXPECT_EQ(script.Actions[3]->AsText(), "[setup@1.00] sp: 0; location: (0.00|0.00|0.00); dafter: -3.00");
}

TEST(SongScript, InvalidParametersEndTheLoad) {
  const std::string launches[] = {
      "NaN, NaN", "4, 2", "NaN", "NaN, 2, 1", "(0, 1, 0), (1)", "(0, 1), 2",
      // life times that would divide by zero or overflow
      "NaN, 0", "NaN, -0", "(0, 0, 0), NaN", "NaN, .00000000000000000000000000000000000000000000001"};
  for (const std::string& tail : launches) {
    TSongScript script(nullptr);
    try {
      LoadScriptText(script, Launch("1", 0) + "1 launch(0, (0, 0, 0), " + tail + ");" + Launch("3", 0));
      ADD_FAILURE() << tail;
    } catch (const EInvalidArgument& e) {
      EXPECT_EQ(e.Message(), "Invalid parameters for launch action.") << tail;
    }
    EXPECT_EQ(Times(script), (std::vector<double>{1})) << tail;  // what came before stays
  }
  for (const std::string text : {"1 launch;", "1 launch(x, (0, 0, 0), NaN, 2);", "1 launch(0, (0, 0, x), NaN, 2);",
                                 "1 launch(NaN, (0, 0, 0), NaN, 2);", "1 launch(3000000000, (0, 0, 0), NaN, 2);"}) {
    TSongScript script(nullptr);
    EXPECT_THROW(LoadScriptText(script, text), EInvalidArgument) << text;
  }
  for (const std::string text : {"1 setup(0, (0, 0, 0));", "1 setup(0, (0, 0), 1);", "1 setup(NaN, (0, 0, 0), 1);"}) {
    TSongScript script(nullptr);
    try {
      LoadScriptText(script, text);
      ADD_FAILURE() << text;
    } catch (const EInvalidArgument& e) {
      EXPECT_EQ(e.Message(), "Invalid parameters for setup action.") << text;
    }
  }
}

TEST(SongScript, UnknownStatementsAreLoggedAndSkipped) {
  CapturedLog log;
  TSongScript script(nullptr);
  LoadScriptText(script, "1 fountain(1); Launch(0, (0, 0, 0), NaN, 2);; 2 launch(0, (0, 0, 0), NaN, 2);");
  EXPECT_EQ(Times(script), (std::vector<double>{2}));
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             "[Error@TSongDataParser.ParseStream]: Unexpected token in song data file at byte 47.",
                             "[Error@TSongScriptParser.ParseStream]: Unknown statement class: 'fountain'",
                             "[Error@TSongScriptParser.ParseStream]: Unknown statement class: 'Launch'",
                             "[Error@TSongScriptParser.ParseStream]: Unknown statement class: ''"}));
}

TEST(SongScript, AdvanceCarriesOutWhatIsDueInTimeOrder) {
  RecordingTarget target;
  TSongScript script(&target);
  LoadScriptText(script, Launch("0.7", 3) + Launch("0.2", 1) + "0.5 setup(2, (1, 2, 3), 8);");
  script.Prepare();
  EXPECT_EQ(script.NextActionTime, 0.2);
  script.Advance(0.5);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{1, 2}));
  EXPECT_FALSE(target.calls[1].launch);
  EXPECT_EQ(target.calls[1].where, (TKZ_Vectorf3{1, 2, 3}));
  EXPECT_EQ(script.NextAction, 2);
  EXPECT_EQ(script.NextActionTime, 0.7);
  script.Advance(-1);
  script.Advance(1.1);
  EXPECT_EQ(target.calls.size(), 2u);
  script.Advance(0.2);
  script.Advance(100);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{1, 2, 3}));
  script.Reset();
  EXPECT_EQ(script.ScriptTime, 0);
  script.Advance(1);
  EXPECT_EQ(target.calls.size(), 6u);
}

TEST(SongScript, SeekPassesOverWithoutCarryingOut) {
  RecordingTarget target;
  TSongScript script(&target);
  LoadScriptText(script, Launch("1", 1) + Launch("3", 3) + Launch("6", 6) + Launch("15", 15) + Launch("20", 2));
  script.Prepare();
  script.Advance(5.5);
  script.Seek(2);  // never moves back
  EXPECT_EQ(script.NextAction, 2);
  EXPECT_EQ(script.NextActionTime, 6);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{1, 3}));
  script.Reset();
  script.Seek(15);
  EXPECT_EQ(script.NextAction, 3);
  script.Advance(0);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{1, 3, 15}));
  script.Seek(100);
  EXPECT_EQ(script.NextAction, 5);
  EXPECT_EQ(script.NextActionTime, kInf);
  // An empty script never runs anything.
  script.Actions.clear();
  script.Prepare();
  EXPECT_EQ(script.NextActionTime, kInf);
  script.Advance(kInf);
  EXPECT_EQ(target.calls.size(), 3u);
}

TEST(SongScript, NegativeSetupsAndUntimedActions) {
  RecordingTarget target;
  TSongScript script(&target);
  // The untimed launch comes first in the file but must not hold the others up.
  LoadScriptText(script, Launch("", 5) + Launch("2", 2) + "-3 setup(3, (0, 0, 0), 1);" + Launch("1", 1));
  script.Prepare();
  EXPECT_EQ(script.NextActionTime, -3);
  script.Advance(-0.25);  // the start: minus the audio lag
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{3}));
  script.Advance(1.5);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{3, 1}));
  script.Advance(1);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{3, 1, 2, 5}));

  // With nothing but untimed actions the next time is NaN, which the clock never reaches: start,
  // stop (reset, then minus the lag), start again, play on.
  RecordingTarget untimed_target;
  TSongScript untimed(&untimed_target);
  LoadScriptText(untimed, Launch("", 4) + Launch("", 6));
  untimed.Prepare();
  EXPECT_TRUE(std::isnan(untimed.NextActionTime));
  for (int start = 0; start < 2; ++start) {
    untimed.Advance(-0.25);
    untimed.Advance(100);
    untimed.Reset();
    untimed.Advance(-0.25);
  }
  EXPECT_TRUE(untimed_target.calls.empty());
}

TEST(SongScript, UnknownKindsAreLoggedAndSkippedWhileTheShowPlays) {
  CapturedLog log;
  RecordingTarget target(4);
  TSongScript script(&target);
  LoadScriptText(script, Launch("1", 1) + "2 launch(17, (0, 0, 0), NaN, 2); 2 setup(9, (1, 2, 3), 4);" + Launch("3", 2));
  script.Prepare();
  script.Advance(10);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(script.NextAction, 4);
  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "[Error@TSongScript.Advance]: Song script action skipped, its firework kind does not exist: "
            "[launch@2.00] rk: 17; velocity: (0.00|2.50|0.00); dafter: 2.00 (List index out of bounds)");
  // Any other exception passes out and leaves the script where it was.
  struct FailingTarget : RecordingTarget {
    void Setup(int32_t, const TKZ_Vectorf3&, double) override { throw EOutOfMemory("Out of memory"); }
  } failing;
  script.Target = &failing;
  script.Reset();
  EXPECT_THROW(script.Advance(10), EOutOfMemory);
  EXPECT_EQ(script.NextAction, 0);
}

TEST(SongScript, FilesLoadThroughTheFileSystemAndAppend) {
  TempDir dir;
  dir.write("songs/bbb/melody.txt", "3 launch(0, (0, 0, 0), NaN, 1);\r\n");
  dir.write("songs/bbb/guitar.txt", std::string("# guitar\n1 setup(0, (0, 0, 0), 1);\0 2 setup(0, (0, 0, 0), 1);", 61));
  TfsManager fs;
  fs.SetModDir(dir.path());
  TSongScript script(nullptr);
  TSongDataParser parser;
  parser.ParseFile("songs/bbb/melody.txt", fs, script, false);
  CapturedLog log;
  parser.ParseFile("songs/bbb/guitar.txt", fs, script, true);  // read up to its NUL byte, silently
  EXPECT_EQ(log.CountLevel(lmetWarning) + log.CountLevel(lmetError), 0) << log.Text();
  parser.ParseFile("songs/bbb/missing.txt", fs, script, true);
  script.Prepare();
  EXPECT_EQ(Times(script), (std::vector<double>{1, 3}));
  parser.ParseFile("songs/bbb/missing.txt", fs, script, false);
  EXPECT_TRUE(script.Actions.empty());
}
