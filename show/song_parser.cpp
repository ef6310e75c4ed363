#include "show/song_parser.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "framework/exceptions.h"
#include "framework/format.h"
#include "framework/fs_manager.h"
#include "framework/log_manager.h"
#include "show/song_script.h"

std::string TSongDataNodeList::ListText() const {
  std::string text = "(list: ";
  for (size_t i = 0; i < Items.size(); ++i) {
    if (i > 0) text += ", ";
    text += Items[i]->AsText();
  }
  return text + ")";
}

std::string TSongDataNodeList::AsText() const { return ListText(); }

std::string TSongDataNodeFloat::AsText() const { return Format("%.2f", Value); }

std::string TSongDataNodeKeyword::AsText() const { return Format("%s", Keyword); }

std::string TSongDataNodeStatement::AsText() const {
  return Format("statement: %s@%.2f%s", Keyword, Time, ListText());
}

namespace {

const char* const kParserSource = "TSongDataParser.ParseStream";

constexpr char kCR = 13;
constexpr char kLF = 10;

bool is_line_break(char c) { return c == kCR || c == kLF; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

uint32_t token_bit(TSongDataToken token) { return 1u << static_cast<uint32_t>(token); }

// Converts the number text the reader builds: "0" or "-0", digits, optionally "." and digits.
// Out-of-range values become infinities (or zero), never an error.
double number_from_text(const std::string& text) {
  double value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  const auto result = std::from_chars(first, last, value, std::chars_format::fixed);
  if (result.ec == std::errc::result_out_of_range) {
    const bool negative = text[0] == '-';
    bool large = false;
    for (const char* p = first + (negative ? 1 : 0); p < last && *p != '.'; ++p) {
      if (*p != '0') {
        large = true;
        break;
      }
    }
    value = large ? std::numeric_limits<double>::infinity() : 0.0;
    if (negative) value = -value;
  }
  return value;
}

// The parse state of one text: the character reader, the tokeniser and the grammar.
class SongDataReader {
 public:
  explicit SongDataReader(const std::string& text) : Text(text) {}

  std::unique_ptr<TSongDataNodeList> ParseRoot() {
    auto root = std::make_unique<TSongDataNodeList>();
    Position = 1;
    NextChar();
    Token = sdtSemicolon;  // no token read yet
    for (;;) {
      if (Token == sdtEnd) break;
      NextToken();
      if (Token == sdtEnd) break;
      root->Items.push_back(ParseStatement());
      if (!Expect(token_bit(sdtSemicolon) | token_bit(sdtEnd))) break;
    }
    return root;
  }

 private:
  bool AtEnd() const { return Position > static_cast<int64_t>(Text.size()); }
  char ReadByte() { return Text[static_cast<size_t>(Position++ - 1)]; }

  // Reads the next character, dropping line breaks; false at the end of the input.
  bool NextChar() {
    if (AtEnd()) {
      Current = 0;
      return false;
    }
    do {
      Current = ReadByte();
    } while (is_line_break(Current) && !AtEnd());
    if (is_line_break(Current)) {
      Current = 0;
      return false;
    }
    return true;
  }

  // Called on "#": drops the rest of the line and the line breaks after it.
  void SkipComment() {
    do {
      if (AtEnd()) {
        Current = 0;
        return;
      }
      Current = ReadByte();
    } while (!is_line_break(Current));
    while (is_line_break(Current)) {
      if (AtEnd()) {
        Current = 0;
        return;
      }
      Current = ReadByte();
    }
  }

  void NextToken() {
    for (;;) {
      while (Current == ' ') {
        if (!NextChar()) {
          Token = sdtEnd;
          return;
        }
      }
      if (Current == 0) {
        Token = sdtEnd;
        return;
      }
      if (Current != '#') break;
      SkipComment();
    }
    switch (Current) {
      case '(': Token = sdtOpen; NextChar(); return;
      case ')': Token = sdtClose; NextChar(); return;
      case ',': Token = sdtComma; NextChar(); return;
      case ';': Token = sdtSemicolon; NextChar(); return;
      default: break;
    }
    if (Current == '-' || Current == '.' || is_digit(Current)) {
      std::string number;
      if (Current == '-') {
        number = "-0";
        NextChar();
      } else {
        number = "0";
      }
      while (is_digit(Current)) {
        number += Current;
        NextChar();
      }
      if (Current == '.') {
        number += Current;
        NextChar();
        while (is_digit(Current)) {
          number += Current;
          NextChar();
        }
      }
      Token = sdtFloat;
      TokenValue = number_from_text(number);
      return;
    }
    if (is_letter(Current)) {
      TokenText.clear();
      while (is_letter(Current)) {
        TokenText += Current;
        NextChar();
      }
      if (TokenText == "NaN") {
        Token = sdtFloat;
        TokenValue = std::numeric_limits<double>::quiet_NaN();
      } else {
        Token = sdtKeyword;
      }
      return;
    }
    LogGlobalFmt(lmetError, "Unexpected character in song data file at byte %d ('%s').", kParserSource, Position,
                 std::string(1, Current));
    Token = sdtEnd;
  }

  bool Expect(uint32_t tokens) {
    if (tokens & token_bit(Token)) return true;
    LogGlobalFmt(lmetError, "Unexpected token in song data file at byte %d.", kParserSource, Position);
    return false;
  }

  std::unique_ptr<TSongDataNodeStatement> ParseStatement() {
    auto statement = std::make_unique<TSongDataNodeStatement>();
    if (!Expect(token_bit(sdtKeyword) | token_bit(sdtFloat))) return statement;
    if (Token == sdtFloat) {
      statement->Time = TokenValue;
      NextToken();
      if (!Expect(token_bit(sdtKeyword))) return statement;
    } else {
      statement->Time = std::numeric_limits<double>::quiet_NaN();
    }
    statement->Keyword = TokenText;
    NextToken();
    if (!Expect(token_bit(sdtOpen) | token_bit(sdtSemicolon))) return statement;
    if (Token == sdtOpen) {
      ParseParameterList(*statement, 1);
      NextToken();
    }
    return statement;
  }

  // Called on "("; `depth` is the nesting depth of `list` (a statement's own list is 1).
  void ParseParameterList(TSongDataNodeList& list, int depth) {
    for (;;) {
      if (Token == sdtClose) return;
      NextToken();
      std::unique_ptr<TSongDataNode> value = ParseValue(depth);
      if (!value) throw Exception("");
      list.Items.push_back(std::move(value));
      if (!Expect(token_bit(sdtClose) | token_bit(sdtComma))) return;
    }
  }

  std::unique_ptr<TSongDataNode> ParseValue(int depth) {
    uint32_t allowed = token_bit(sdtKeyword) | token_bit(sdtFloat);
    if (depth < kSongDataMaxListDepth) allowed |= token_bit(sdtOpen);
    if (!Expect(allowed)) return nullptr;
    std::unique_ptr<TSongDataNode> node;
    switch (Token) {
      case sdtKeyword: node = std::make_unique<TSongDataNodeKeyword>(TokenText); break;
      case sdtFloat: node = std::make_unique<TSongDataNodeFloat>(TokenValue); break;
      default: {
        auto list = std::make_unique<TSongDataNodeList>();
        ParseParameterList(*list, depth + 1);
        node = std::move(list);
        break;
      }
    }
    NextToken();
    return node;
  }

  const std::string& Text;
  int64_t Position = 1;  // 1-based index of the next byte
  char Current = 0;
  TSongDataToken Token = sdtEnd;
  double TokenValue = 0;
  std::string TokenText;
};

}  // namespace

std::unique_ptr<TSongDataNodeList> TSongDataParser::ParseText(const std::string& Text) {
  return SongDataReader(Text).ParseRoot();
}

void TSongDataParser::ParseStream(TStream& Stream, TSongScript& Script, bool Append) {
  const int64_t size = Stream.GetSize();
  std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (!text.empty()) Stream.Read(&text[0], static_cast<int64_t>(text.size()));
  std::unique_ptr<TSongDataNodeList> root = ParseText(text);
  convert_song_statements(*root, Script, Append);
}

void TSongDataParser::ParseFile(const std::string& FileName, TfsManager& FileSystem, TSongScript& Script,
                                bool Append) {
  std::unique_ptr<TStream> stream = FileSystem.LoadFileToStream(FileName, fmOpenRead);
  if (!stream) {
    if (!Append) Script.Actions.clear();
    return;
  }
  ParseStream(*stream, Script, Append);
}
