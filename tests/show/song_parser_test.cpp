#include "show/song_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/show/song_test_support.h"

namespace {

std::string Token(int byte) {
  return "[Error@TSongDataParser.ParseStream]: Unexpected token in song data file at byte " + std::to_string(byte) + ".";
}

std::string Character(int byte, const std::string& c) {
  return "[Error@TSongDataParser.ParseStream]: Unexpected character in song data file at byte " +
         std::to_string(byte) + " ('" + c + "').";
}

const TSongDataNodeStatement& StatementAt(const TSongDataNodeList& root, size_t i) {
  return dynamic_cast<const TSongDataNodeStatement&>(*root.Items.at(i));
}

double NumberAt(const TSongDataNodeList& list, size_t i) {
  return dynamic_cast<const TSongDataNodeFloat&>(*list.Items.at(i)).Value;
}

}  // namespace

TEST(SongDataParser, StatementsAndErrorEntriesWithTheirBytes) {
  struct Case {
    std::string text;
    size_t statements;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {"", 0, {}},
      {"  \r\n# only a comment\n\n  # b", 0, {}},
      {"base;\n# last line", 1, {}},
      {"base;#x\r\n\r\n", 1, {}},
      {"base#c\n;", 1, {}},
      {"12 setup(1, (2.5, 0, -1), 8)", 1, {}},
      {std::string("a;\0b;!", 6), 1, {}},  // a NUL ends the text, with no entry of its own
      {std::string("a;#\0\nb;", 7), 2, {}},  // a comment's NUL is skipped with it
      {"x\ty", 1, {Character(3, "\t"), Token(3)}},
      {"\xEF\xBB\xBF" "base;", 0, {Character(2, "\xEF")}},
      {"a; b(1, 2); c(3 $ 4); d;", 3, {Character(18, "$"), Token(18), Character(18, "$")}},
      {"base", 1, {Token(5)}},
      {"a;;b;", 3, {Token(5)}},
      {"a(1) b; c;", 1, {Token(8)}},
      {"x(1.2.3);", 1, {Token(9), Token(10)}},  // 1.2, then .3 where "," belongs
      {"1-2 x;", 1, {Token(5), Token(5)}},      // 1, then -2 where the keyword belongs
  };
  for (const Case& c : cases) {
    CapturedLog log;
    EXPECT_EQ(TSongDataParser::ParseText(c.text)->Items.size(), c.statements) << c.text;
    EXPECT_EQ(log.Lines(), c.log) << c.text;
  }
}

TEST(SongDataParser, LineBreaksJoinWordsAndNumbers) {
  const auto root = TSongDataParser::ParseText("1\r\n2 la\nunch(3\n4); base;; NaN base;");
  const auto& launch = StatementAt(*root, 0);
  EXPECT_EQ(launch.Keyword, "launch");
  EXPECT_EQ(launch.Time, 12);
  EXPECT_EQ(NumberAt(launch, 0), 34);
  EXPECT_TRUE(std::isnan(StatementAt(*root, 1).Time));
  EXPECT_EQ(StatementAt(*root, 2).Keyword, "");
  EXPECT_EQ(StatementAt(*root, 2).Time, 0);
  EXPECT_TRUE(std::isnan(StatementAt(*root, 3).Time));
}

TEST(SongDataParser, NumberForms) {
  const std::string nines(400, '9');
  const auto root = TSongDataParser::ParseText("x(-5, -, .25, -.5, 5., 007, nan, NaN, " + nines + ", -" + nines +
                                               ", ." + std::string(400, '0') + "1);");
  const auto& p = StatementAt(*root, 0);
  ASSERT_EQ(p.Items.size(), 11u);
  EXPECT_EQ(NumberAt(p, 0), -5);
  EXPECT_TRUE(NumberAt(p, 1) == 0 && std::signbit(NumberAt(p, 1)));
  EXPECT_EQ(NumberAt(p, 2), 0.25);
  EXPECT_EQ(NumberAt(p, 3), -0.5);
  EXPECT_EQ(NumberAt(p, 4), 5);
  EXPECT_EQ(NumberAt(p, 5), 7);
  EXPECT_EQ(dynamic_cast<const TSongDataNodeKeyword&>(*p.Items[6]).Keyword, "nan");
  EXPECT_TRUE(std::isnan(NumberAt(p, 7)));
  EXPECT_EQ(NumberAt(p, 8), HUGE_VAL);
  EXPECT_EQ(NumberAt(p, 9), -HUGE_VAL);
  EXPECT_EQ(NumberAt(p, 10), 0);
}

TEST(SongDataParser, AMissingValueRaisesAnEmptyMessage) {
  for (const std::string text : {"launch()", "x(1,)", "x(1, (2, ));", "x(;", "x((),1);"}) {
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
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{Token(9)}));
}

TEST(SongDataParser, NestingIsBounded) {
  const auto nested = [](int depth) {
    return "x" + std::string(static_cast<size_t>(depth), '(') + "1" + std::string(static_cast<size_t>(depth), ')');
  };
  const auto root = TSongDataParser::ParseText(nested(kSongDataMaxListDepth));
  const TSongDataNodeList* list = &StatementAt(*root, 0);
  for (int depth = 1; depth < kSongDataMaxListDepth; ++depth)
    list = &dynamic_cast<const TSongDataNodeList&>(*list->Items.at(0));
  EXPECT_EQ(NumberAt(*list, 0), 1);
  EXPECT_THROW(TSongDataParser::ParseText(nested(kSongDataMaxListDepth + 1)), Exception);
  EXPECT_THROW(TSongDataParser::ParseText("x" + std::string(1000000, '(')), Exception);
}

TEST(SongDataParser, NodesDescribeThemselves) {
  const auto root = TSongDataParser::ParseText("1.5 launch(0, (1, x), 2.345);");
  EXPECT_EQ(root->AsText(), "(list: statement: launch@1.50(list: 0.00, (list: 1.00, x), 2.35))");
}

TEST(SongDataParser, ParseStreamLeavesTheScriptAloneOnAMissingValue) {
  TSongScript script(nullptr);
  LoadScriptText(script, "1 launch(0, (0, 0, 0), NaN, 2);");
  EXPECT_THROW(LoadScriptText(script, "2 launch(0, (0, 0, 0), NaN, 2); 3 launch();"), Exception);
  ASSERT_EQ(script.Actions.size(), 1u);
  EXPECT_EQ(script.Actions[0]->Time, 1);
  LoadScriptText(script, "", true);  // an empty stream empties only when not appending
  EXPECT_EQ(script.Actions.size(), 1u);
  LoadScriptText(script, "");
  EXPECT_TRUE(script.Actions.empty());
}
