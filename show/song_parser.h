#pragma once
// The song-script text format: data nodes and the parser that reads one script file into a list
// of statements. The statements become timed actions in show/song_script.h.
//
// A script is a sequence of statements, each ended by ";" (or by the end of the file):
//   [time] keyword [ "(" value { "," value } ")" ]
// where a value is a number, a word or a nested parenthesised list. "#" starts a comment that runs
// to the end of its line; line breaks are dropped everywhere else, so words and numbers may
// continue on the next line.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/streams.h"

class TSongScript;
class TfsManager;

class TSongDataNode {
 public:
  virtual ~TSongDataNode() = default;
  // A one-line text of the node, for diagnostics.
  virtual std::string AsText() const = 0;
};

class TSongDataNodeList : public TSongDataNode {
 public:
  std::string AsText() const override;
  // The list's own text, also for a statement (whose AsText says more).
  std::string ListText() const;

  std::vector<std::unique_ptr<TSongDataNode>> Items;
};

class TSongDataNodeFloat : public TSongDataNode {
 public:
  TSongDataNodeFloat() = default;
  explicit TSongDataNodeFloat(double Value_) : Value(Value_) {}
  std::string AsText() const override;

  double Value = 0;
};

class TSongDataNodeKeyword : public TSongDataNode {
 public:
  TSongDataNodeKeyword() = default;
  explicit TSongDataNodeKeyword(std::string Keyword_) : Keyword(std::move(Keyword_)) {}
  std::string AsText() const override;

  std::string Keyword;
};

// A statement: its keyword, its time (NaN when it has none) and, as the inherited items, its
// parameters.
class TSongDataNodeStatement : public TSongDataNodeList {
 public:
  std::string AsText() const override;

  std::string Keyword;
  double Time = 0;
};

enum TSongDataToken : int32_t { sdtKeyword = 0, sdtFloat, sdtOpen, sdtClose, sdtComma, sdtSemicolon, sdtEnd };

// Nested parameter lists deeper than this are refused like a missing value, so that a hostile file
// cannot exhaust the stack.
constexpr int kSongDataMaxListDepth = 64;

class TSongDataParser {
 public:
  TSongDataParser() = default;
  virtual ~TSongDataParser() = default;

  // Parses the whole stream (from its position, as many bytes as its size) into statements and
  // converts them into actions of `Script`, which is emptied first unless `Append`. Text errors are
  // logged; a missing value raises an Exception with an empty message, invalid action parameters
  // raise EInvalidArgument.
  void ParseStream(TStream& Stream, TSongScript& Script, bool Append);
  // Loads one script file through the file system; a missing file empties the script unless
  // `Append`. The script is not sorted here: call TSongScript::Prepare after the last file.
  void ParseFile(const std::string& FileName, TfsManager& FileSystem, TSongScript& Script, bool Append);

  // The statements of a text, before conversion (the first half of ParseStream).
  static std::unique_ptr<TSongDataNodeList> ParseText(const std::string& Text);
};
