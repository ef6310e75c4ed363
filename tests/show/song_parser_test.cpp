#include "show/song_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/show/song_test_support.h"

namespace {

const std::string kParseSource = "[Error@TSongDataParser.ParseStream]: ";

std::string UnexpectedToken(int byte) {
  return kParseSource + "Unexpected token in song data file at byte " + std::to_string(byte) + ".";
}

std::string UnexpectedCharacter(int byte, const std::string& character) {
  return kParseSource + "Unexpected character in song data file at byte " + std::to_string(byte) + " ('" +
         character + "').";
}

const TSongDataNodeStatement& StatementAt(const TSongDataNodeList& root, size_t i) {
  return dynamic_cast<const TSongDataNodeStatement&>(*root.Items.at(i));
}

double NumberAt(const TSongDataNodeList& list, size_t i) {
  return dynamic_cast<const TSongDataNodeFloat&>(*list.Items.at(i)).Value;
}

}  // namespace

TEST(SongDataParser, BlankCommentAndLineBreakOnlyTextsHoldNoStatement) {
  CapturedLog log;
  for (const std::string& text : std::vector<std::string>{"", "   ", "\r\n\n", "# only a comment", "# a\r\n  # b\n\n", std::string("\0;;", 3)}) {
    EXPECT_TRUE(TSongDataParser::ParseText(text)->Items.empty()) << text;
  }
  EXPECT_TRUE(log.Lines().empty());
}

TEST(SongDataParser, LineBreaksJoinWordsAndNumbers) {
  CapturedLog log;
  const auto root = TSongDataParser::ParseText("1\r\n2 la\nunch(3\n4, (0, 0, 0), NaN, 2);");
  ASSERT_EQ(root->Items.size(), 1u);
  const auto& statement = StatementAt(*root, 0);
  EXPECT_EQ(statement.Keyword, "launch");
  EXPECT_EQ(statement.Time, 12);
  EXPECT_EQ(NumberAt(statement, 0), 34);
  EXPECT_TRUE(log.Lines().empty());
}

TEST(SongDataParser, CommentsEndTokensAndTheLastLineEndsCleanly) {
  CapturedLog log;
  for (const std::string text : {"base;\n# last line", "base;\n# last line\n", "base;#x\r\n\r\n", "base#c\n;#c"}) {
    const auto root = TSongDataParser::ParseText(text);
    ASSERT_EQ(root->Items.size(), 1u) << text;
    EXPECT_EQ(StatementAt(*root, 0).Keyword, "base");
  }
  // A file whose last byte closes its last statement.
  const auto root = TSongDataParser::ParseText("12 setup(1, (2.5, 0, -1), 8)");
  ASSERT_EQ(root->Items.size(), 1u);
  EXPECT_EQ(StatementAt(*root, 0).Items.size(), 3u);
  EXPECT_TRUE(log.Lines().empty());
}

TEST(SongDataParser, NumberForms) {
  CapturedLog log;
  const auto root = TSongDataParser::ParseText("x(-5, -, .25, -.5, 5., 007, nan, NaN, Nan);");
  const auto& p = StatementAt(*root, 0);
  ASSERT_EQ(p.Items.size(), 9u);
  EXPECT_EQ(NumberAt(p, 0), -5);
  EXPECT_EQ(NumberAt(p, 1), 0);
  EXPECT_TRUE(std::signbit(NumberAt(p, 1)));
  EXPECT_EQ(NumberAt(p, 2), 0.25);
  EXPECT_EQ(NumberAt(p, 3), -0.5);
  EXPECT_EQ(NumberAt(p, 4), 5);
  EXPECT_EQ(NumberAt(p, 5), 7);
  EXPECT_EQ(dynamic_cast<const TSongDataNodeKeyword&>(*p.Items[6]).Keyword, "nan");
  EXPECT_TRUE(std::isnan(NumberAt(p, 7)));
  EXPECT_EQ(dynamic_cast<const TSongDataNodeKeyword&>(*p.Items[8]).Keyword, "Nan");
  // Huge numbers saturate instead of failing.
  const auto huge = TSongDataParser::ParseText("x(" + std::string(400, '9') + ", -" + std::string(400, '9') + ", ." +
                                               std::string(400, '0') + "1);");
  const auto& h = StatementAt(*huge, 0);
  EXPECT_EQ(NumberAt(h, 0), HUGE_VAL);
  EXPECT_EQ(NumberAt(h, 1), -HUGE_VAL);
  EXPECT_EQ(NumberAt(h, 2), 0);
  EXPECT_TRUE(log.Lines().empty());
}

TEST(SongDataParser, ASecondPointOrMinusStartsANewNumber) {
  CapturedLog log;
  // 1.2 then .3: two numbers without a comma between them.
  const auto root = TSongDataParser::ParseText("x(1.2.3);");
  EXPECT_EQ(NumberAt(StatementAt(*root, 0), 0), 1.2);
  // 1 then -2: the time is 1, and -2 stands where the keyword belongs.
  const auto minus = TSongDataParser::ParseText("1-2 x;");
  EXPECT_EQ(StatementAt(*minus, 0).Time, 1);
  EXPECT_EQ(StatementAt(*minus, 0).Keyword, "");
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{UnexpectedToken(9), UnexpectedToken(10), UnexpectedToken(5),
                                                   UnexpectedToken(5)}));
}

TEST(SongDataParser, StatementsWithoutATimeGetNaN) {
  const auto root = TSongDataParser::ParseText("base; NaN base; 0 base;");
  ASSERT_EQ(root->Items.size(), 3u);
  EXPECT_TRUE(std::isnan(StatementAt(*root, 0).Time));
  EXPECT_TRUE(std::isnan(StatementAt(*root, 1).Time));
  EXPECT_EQ(StatementAt(*root, 2).Time, 0);
}

TEST(SongDataParser, UnexpectedCharactersEndTheInputWhereTheyStand) {
  {
    CapturedLog log;
    const auto root = TSongDataParser::ParseText("x\ty");
    ASSERT_EQ(root->Items.size(), 1u);
    EXPECT_EQ(StatementAt(*root, 0).Keyword, "x");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{UnexpectedCharacter(3, "\t"), UnexpectedToken(3)}));
  }
  {
    CapturedLog log;
    EXPECT_TRUE(TSongDataParser::ParseText("\xEF\xBB\xBF" "base;")->Items.empty());
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{UnexpectedCharacter(2, "\xEF")}));
  }
  {
    // Statements before the bad character stay; the one it interrupts is cut short.
    CapturedLog log;
    const auto root = TSongDataParser::ParseText("a; b(1, 2); c(3 $ 4); d;");
    ASSERT_EQ(root->Items.size(), 3u);
    EXPECT_EQ(StatementAt(*root, 2).Keyword, "c");
    EXPECT_EQ(StatementAt(*root, 2).Items.size(), 1u);
    EXPECT_GE(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[0], UnexpectedCharacter(18, "$"));
  }
  {
    // A NUL byte ends the input silently.
    CapturedLog log;
    EXPECT_EQ(TSongDataParser::ParseText(std::string("a;\0b;!", 6))->Items.size(), 1u);
    EXPECT_TRUE(log.Lines().empty());
  }
}

TEST(SongDataParser, UnexpectedTokensKeepTheStatementSoFar) {
  {
    CapturedLog log;
    const auto root = TSongDataParser::ParseText("base");
    ASSERT_EQ(root->Items.size(), 1u);
    EXPECT_EQ(StatementAt(*root, 0).Keyword, "base");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{UnexpectedToken(5)}));
  }
  {
    CapturedLog log;
    const auto root = TSongDataParser::ParseText("a;;b;");
    ASSERT_EQ(root->Items.size(), 3u);
    EXPECT_EQ(StatementAt(*root, 1).Keyword, "");
    EXPECT_EQ(StatementAt(*root, 1).Time, 0);
    EXPECT_EQ(StatementAt(*root, 2).Keyword, "b");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{UnexpectedToken(5)}));
  }
  {
    // Anything but ";" or the end after a statement ends the parse.
    CapturedLog log;
    const auto root = TSongDataParser::ParseText("a(1) b; c;");
    ASSERT_EQ(root->Items.size(), 1u);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{UnexpectedToken(8)}));
  }
}

TEST(SongDataParser, AMissingValueRaisesAnEmptyMessage) {
  for (const std::string text : {"launch()", "x(1,)", "x(1, (2, ));", "x(;", "x(", "x((),1);"}) {
    CapturedLog log;
    try {
      TSongDataParser::ParseText(text);
      ADD_FAILURE() << text << " parsed";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "") << text;
    }
    EXPECT_EQ(log.Lines().size(), 1u) << text;
  }
  CapturedLog log;
  EXPECT_THROW(TSongDataParser::ParseText("launch()"), Exception);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{UnexpectedToken(9)}));
}

TEST(SongDataParser, NestingIsBounded) {
  const auto nested = [](int depth) {
    return "x" + std::string(static_cast<size_t>(depth), '(') + "1" + std::string(static_cast<size_t>(depth), ')') + ";";
  };
  CapturedLog log;
  const auto root = TSongDataParser::ParseText(nested(kSongDataMaxListDepth));
  const TSongDataNodeList* list = &StatementAt(*root, 0);
  for (int depth = 1; depth < kSongDataMaxListDepth; ++depth)
    list = &dynamic_cast<const TSongDataNodeList&>(*list->Items.at(0));
  EXPECT_EQ(NumberAt(*list, 0), 1);
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_THROW(TSongDataParser::ParseText(nested(kSongDataMaxListDepth + 1)), Exception);
  EXPECT_THROW(TSongDataParser::ParseText("x" + std::string(1000000, '(')), Exception);
}

TEST(SongDataParser, NodesDescribeThemselves) {
  const auto root = TSongDataParser::ParseText("1.5 launch(0, (1, x), 2.345);");
  EXPECT_EQ(root->AsText(), "(list: statement: launch@1.50(list: 0.00, (list: 1.00, x), 2.35))");
  EXPECT_EQ(StatementAt(*root, 0).ListText(), "(list: 0.00, (list: 1.00, x), 2.35)");
}

TEST(SongDataParser, ParseStreamReadsTheWholeStreamAndFreesTheTreeOnErrors) {
  RecordingTarget target;
  TSongScript script(&target);
  LoadScriptText(script, "1 launch(0, (0, 0, 0), NaN, 2);");
  ASSERT_EQ(script.Actions.size(), 1u);
  // A missing value leaves the script as it was, even when it would have been emptied.
  EXPECT_THROW(LoadScriptText(script, "2 launch(0, (0, 0, 0), NaN, 2); 3 launch();"), Exception);
  ASSERT_EQ(script.Actions.size(), 1u);
  EXPECT_EQ(script.Actions[0]->Time, 1);
  // An empty stream empties the script unless appending.
  LoadScriptText(script, "", true);
  EXPECT_EQ(script.Actions.size(), 1u);
  LoadScriptText(script, "");
  EXPECT_TRUE(script.Actions.empty());
}
