#include "show/song_script.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "tests/show/song_test_support.h"

namespace {

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

void ExpectInvalid(const std::string& text, const std::string& message) {
  TSongScript script(nullptr);
  try {
    LoadScriptText(script, text);
    ADD_FAILURE() << text << " loaded";
  } catch (const EInvalidArgument& e) {
    EXPECT_EQ(e.Message(), message) << text;
  }
}

}  // namespace

TEST(SongScript, PrepareRunsActionsInTimeOrder) {
  RecordingTarget target;
  TSongScript script(&target);
  LoadScriptText(script, "2 launch(2, (0, 0, 0), NaN, 1); 1 launch(1, (0, 0, 0), NaN, 1); 3 setup(3, (1, 2, 3), 8);");
  script.Prepare();
  EXPECT_EQ(Times(script), (std::vector<double>{1, 2, 3}));
  script.Advance(5);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_FALSE(target.calls[2].launch);
  EXPECT_EQ(target.calls[2].where, (TKZ_Vectorf3{1, 2, 3}));
  EXPECT_EQ(target.calls[2].lifeTime, 8);
}

TEST(SongScript, BaseShiftsTheStatementsAfterIt) {
  TSongScript script(nullptr);
  LoadScriptText(script,
                 "10 base; 1.5 launch(0, (0, 0, 0), NaN, 1);"
                 "-2 base; 1 launch(0, (0, 0, 0), NaN, 1);"
                 "0 base; 1 launch(0, (0, 0, 0), NaN, 1);"
                 "4 base; NaN base; 1 launch(0, (0, 0, 0), NaN, 1);"
                 "3 base; -1 setup(0, (0, 0, 0), 1);");
  EXPECT_EQ(Times(script), (std::vector<double>{11.5, 9, 1, 1, -4}));
  // The shift lives for one file.
  LoadScriptText(script, "1 launch(0, (0, 0, 0), NaN, 1);", true);
  EXPECT_EQ(script.Actions.back()->Time, 1);
}

TEST(SongScript, NegativeLaunchTimesNameTheBurst) {
  TSongScript script(nullptr);
  LoadScriptText(script, "-12 launch(0, (1, 2, 3), NaN, 2); 10 base; -12 launch(0, (0, 0, 0), (0, 10, 0), NaN);");
  const auto& first = LaunchAt(script, 0);
  EXPECT_EQ(first.Time, 10);
  EXPECT_EQ(first.velocity, (TKZ_Vectorf3{0, 2.5f, 0}));
  EXPECT_EQ(first.position, (TKZ_Vectorf3{1, 2, 3}));
  EXPECT_EQ(first.dafter, 2);
  const auto& second = LaunchAt(script, 1);
  EXPECT_EQ(second.dafter, 0.5);
  EXPECT_EQ(second.Time, 21.5);
}

TEST(SongScript, LaunchLifeTimeAndKind) {
  TSongScript script(nullptr);
  LoadScriptText(script,
                 "1 launch(2.5, (0, 0, 0), (0, 10, 0), NaN);"
                 "1 launch(3.5, (0, 0, 0), (0, 10, 0), 3);"
                 "1 launch(-2.5, (0, 0, 0), (3, 4, 0), NaN);"
                 "1 setup(0.5, (0, 0, 0), -3);");
  EXPECT_EQ(LaunchAt(script, 0).rk, 2);
  EXPECT_EQ(LaunchAt(script, 0).dafter, 0.5);
  EXPECT_EQ(LaunchAt(script, 1).rk, 4);
  EXPECT_EQ(LaunchAt(script, 1).dafter, 3);
  EXPECT_EQ(LaunchAt(script, 2).rk, -2);
  EXPECT_EQ(LaunchAt(script, 2).dafter, 1);
  const auto& setup = dynamic_cast<const TSongScriptActionSetup&>(*script.Actions[3]);
  EXPECT_EQ(setup.sp, 0);
  EXPECT_EQ(setup.dafter, -3);
}

TEST(SongScript, InvalidParametersEndTheLoad) {
  const std::string launch = "Invalid parameters for launch action.";
  for (const std::string text :
       {"1 launch(0, (0, 0, 0), NaN, NaN);", "1 launch(0, (0, 0, 0), 4, 2);", "1 launch(0, (0, 0, 0), NaN);",
        "1 launch(0, (0, 0, 0), NaN, 2, 1);", "1 launch(x, (0, 0, 0), NaN, 2);", "1 launch(0, (0, 0), NaN, 2);",
        "1 launch(0, (0, 0, x), NaN, 2);", "1 launch(0, (0, 0, 0), (0, 1, 0), (1));", "1 launch;",
        "1 launch(0, 0, NaN, 2);", "1 launch(0, (0, 0, (0)), NaN, 2);"})
    ExpectInvalid(text, launch);
  // Life times that would divide by zero, and kinds without a 32-bit number.
  for (const std::string text : {"1 launch(0, (0, 0, 0), NaN, 0);", "1 launch(0, (0, 0, 0), NaN, -0);",
                                  "1 launch(0, (0, 0, 0), (0, 0, 0), NaN);", "1 launch(0, (0, 0, 0), NaN, .00000000000000000000000000000000000000000000001);",
                                  "1 launch(NaN, (0, 0, 0), NaN, 2);", "1 launch(3000000000, (0, 0, 0), NaN, 2);"})
    ExpectInvalid(text, launch);
  const std::string setup = "Invalid parameters for setup action.";
  for (const std::string text : {"1 setup(0, (0, 0, 0));", "1 setup(0, (0, 0), 1);", "1 setup(0, (0, 0, 0), x);",
                                 "1 setup(NaN, (0, 0, 0), 1);"})
    ExpectInvalid(text, setup);
  // The actions before the bad statement stay.
  TSongScript script(nullptr);
  EXPECT_THROW(LoadScriptText(script, "1 launch(0, (0, 0, 0), NaN, 2); 2 launch(0); 3 launch(0, (0, 0, 0), NaN, 2);"),
               EInvalidArgument);
  EXPECT_EQ(Times(script), (std::vector<double>{1}));
}

TEST(SongScript, UnknownStatementsAreLoggedAndSkipped) {
  CapturedLog log;
  TSongScript script(nullptr);
  LoadScriptText(script, "1 fountain(1); Launch(0, (0, 0, 0), NaN, 2);; 2 launch(0, (0, 0, 0), NaN, 2);");
  EXPECT_EQ(Times(script), (std::vector<double>{2}));
  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "[Error@TSongDataParser.ParseStream]: Unexpected token in song data file at byte 47.");
  EXPECT_EQ(lines[1], "[Error@TSongScriptParser.ParseStream]: Unknown statement class: 'fountain'");
  EXPECT_EQ(lines[2], "[Error@TSongScriptParser.ParseStream]: Unknown statement class: 'Launch'");
  EXPECT_EQ(lines[3], "[Error@TSongScriptParser.ParseStream]: Unknown statement class: ''");
}

TEST(SongScript, AdvanceCarriesOutWhatIsDue) {
  RecordingTarget target;
  TSongScript script(&target);
  LoadScriptText(script,
                 "0.7 launch(3, (0, 0, 0), NaN, 1); 0.2 launch(1, (0, 0, 0), NaN, 1);"
                 "0.5 launch(2, (0, 0, 0), NaN, 1);");
  script.Prepare();
  EXPECT_EQ(script.NextActionTime, 0.2);
  script.Advance(0.5);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(script.NextAction, 2);
  EXPECT_EQ(script.NextActionTime, 0.7);
  script.Advance(-1);  // going back carries out nothing
  script.Advance(1.1);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{1, 2}));
  script.Advance(0.2);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{1, 2, 3}));
  script.Advance(100);
  EXPECT_EQ(target.calls.size(), 3u);
  // Reset starts over.
  script.Reset();
  EXPECT_EQ(script.ScriptTime, 0);
  script.Advance(1);
  EXPECT_EQ(target.calls.size(), 6u);
}

TEST(SongScript, SeekPassesOverWithoutCarryingOut) {
  RecordingTarget target;
  TSongScript script(&target);
  LoadScriptText(script,
                 "1 launch(1, (0, 0, 0), NaN, 1); 3 launch(3, (0, 0, 0), NaN, 1);"
                 "6 launch(6, (0, 0, 0), NaN, 1); 15 launch(15, (0, 0, 0), NaN, 1); 20 launch(2, (0, 0, 0), NaN, 1);");
  script.Prepare();
  script.Advance(5.5);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{1, 3}));
  script.Seek(2);  // never moves back
  EXPECT_EQ(script.ScriptTime, 2);
  EXPECT_EQ(script.NextAction, 2);
  EXPECT_EQ(script.NextActionTime, 6);
  EXPECT_EQ(target.calls.size(), 2u);
  script.Reset();
  script.Seek(15);
  EXPECT_EQ(script.NextAction, 3);
  EXPECT_EQ(script.NextActionTime, 15);
  script.Advance(0);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{1, 3, 15}));
  script.Seek(100);
  EXPECT_EQ(script.NextAction, 5);
  EXPECT_EQ(script.NextActionTime, std::numeric_limits<double>::infinity());
}

TEST(SongScript, EmptyScriptsNeverRunAnything) {
  RecordingTarget target;
  TSongScript script(&target);
  script.Prepare();
  EXPECT_EQ(script.NextActionTime, std::numeric_limits<double>::infinity());
  script.Advance(1e300);
  script.Advance(std::numeric_limits<double>::infinity());
  EXPECT_TRUE(target.calls.empty());
}

TEST(SongScript, NegativeSetupsAndUntimedActions) {
  RecordingTarget target;
  TSongScript script(&target);
  // The untimed launch comes first in the file but must not hold the others up.
  LoadScriptText(script,
                 "launch(5, (0, 0, 0), NaN, 1); 2 launch(2, (0, 0, 0), NaN, 1); -3 setup(3, (0, 0, 0), 1);"
                 "1 launch(1, (0, 0, 0), NaN, 1);");
  script.Prepare();
  EXPECT_EQ(script.NextActionTime, -3);
  script.Advance(-0.25);  // the start: minus the audio lag
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{3}));
  script.Advance(1.5);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{3, 1}));
  script.Advance(1);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{3, 1, 2, 5}));
}

TEST(SongScript, UnknownKindsAreLoggedAndSkippedWhileTheShowPlays) {
  CapturedLog log;
  RecordingTarget target(4);
  TSongScript script(&target);
  LoadScriptText(script,
                 "1 launch(1, (0, 0, 0), NaN, 1); 2 launch(17, (0, 0, 0), NaN, 2); 2 setup(9, (1, 2, 3), 4);"
                 "3 setup(2, (0, 0, 0), 1);");
  script.Prepare();
  script.Advance(10);
  EXPECT_EQ(Kinds(target), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(script.NextAction, 4);
  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "[Error@TSongScript.Advance]: Song script action skipped, its firework kind does not exist: "
            "[launch@2.00] rk: 17; velocity: (0.00|2.50|0.00); dafter: 2.00 (List index out of bounds)");
  EXPECT_EQ(lines[1].rfind("[Error@TSongScript.Advance]: Song script action skipped", 0), 0u);
}

TEST(SongScript, OtherExceptionsLeaveTheScriptWhereItWas) {
  struct FailingTarget : RecordingTarget {
    void Launch(int32_t kind, const TKZ_Vectorf3& p, const TKZ_Vectorf3& v, double t) override {
      if (kind == 2) throw EOutOfMemory("Out of memory");
      RecordingTarget::Launch(kind, p, v, t);
    }
  } target;
  TSongScript script(&target);
  LoadScriptText(script, "1 launch(1, (0, 0, 0), NaN, 1); 2 launch(2, (0, 0, 0), NaN, 1);");
  script.Prepare();
  EXPECT_THROW(script.Advance(3), EOutOfMemory);
  EXPECT_EQ(script.NextAction, 0);
}

TEST(SongScript, AppendingKeepsTheFirstFile) {
  TSongScript script(nullptr);
  LoadScriptText(script, "3 launch(0, (0, 0, 0), NaN, 1);");
  LoadScriptText(script, "1 launch(0, (0, 0, 0), NaN, 1);", true);
  script.Prepare();
  EXPECT_EQ(Times(script), (std::vector<double>{1, 3}));
  LoadScriptText(script, "2 launch(0, (0, 0, 0), NaN, 1);");
  EXPECT_EQ(Times(script), (std::vector<double>{2}));
}

TEST(SongScript, ActionTexts) {
  TSongScript script(nullptr);
  LoadScriptText(script, "-12 launch(1, (5, 6, 7), NaN, 2); 4 setup(2, (1, 2.5, -3), 8);");
  EXPECT_EQ(script.Actions[0]->AsText(), "[launch@10.00] rk: 1; velocity: (0.00|2.50|0.00); dafter: 2.00");
  EXPECT_EQ(script.Actions[1]->AsText(), "[setup@4.00] sp: 2; location: (1.00|2.50|-3.00); dafter: 8.00");
  EXPECT_EQ(script.Actions[0]->TSongScriptAction::AsText(), "Undefined song script action.");
}
