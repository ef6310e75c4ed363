#pragma once
// Points GlobalLogFile at a fresh text log (debug entries kept) for the length of a test and reads
// the entries back; and a count of open file descriptors.
#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "framework/log_manager.h"
#include "tests/support/os.h"
#include "tests/support/temp_dir.h"

class CapturedLog {
 public:
  CapturedLog() {
    GlobalLogFile = new TlmLogFile(dir_.file("log.txt"), lmlmOverwrite, "");
    GlobalLogFile->SetMinLevel(lmetDebug);
  }
  ~CapturedLog() { DoneLogManagerModule(); }
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;

  // Every entry as "[Level@Source]: Message", without the line end.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    const std::string text = dir_.read("log.txt");
    size_t start = 0, end;
    while ((end = text.find("\r\n", start)) != std::string::npos) {
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }
  static std::string Entry(TlmEntryType level, const std::string& source, const std::string& message) {
    return "[" + EntryTypeToString(level) + "@" + source + "]: " + message;
  }
  int Count(TlmEntryType level, const std::string& source, const std::string& message) const {
    const auto lines = Lines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), Entry(level, source, message)));
  }
  bool Has(TlmEntryType level, const std::string& source, const std::string& message) const {
    return Count(level, source, message) > 0;
  }
  // Entries of the level, whatever their source and message.
  int CountLevel(TlmEntryType level) const {
    const std::string prefix = "[" + EntryTypeToString(level);
    int n = 0;
    for (const auto& line : Lines()) n += line.compare(0, prefix.size(), prefix) == 0;
    return n;
  }
  size_t Size() const { return Lines().size(); }
  std::string Text() const { return dir_.read("log.txt"); }

 private:
  TempDir dir_;
};

