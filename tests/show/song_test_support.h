#pragma once
// Shared pieces of the song-script tests: a captured log and a recording firework target.
#include <memory>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "framework/log_manager.h"
#include "framework/streams.h"
#include "show/song_script.h"
#include "tests/support/temp_dir.h"

// Installs a text log in a temporary folder as GlobalLogFile for the life of the object.
class CapturedLog {
 public:
  CapturedLog() : log_(std::make_unique<TlmLogFile>(dir_.file("log.txt"), lmlmOverwrite, "")) {
    previous_ = GlobalLogFile;
    GlobalLogFile = log_.get();
  }
  ~CapturedLog() { GlobalLogFile = previous_; }
  // The log's lines without their line ends.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    const std::string text = dir_.read("log.txt");
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
      lines.push_back(text.substr(start, end - start));
    return lines;
  }

 private:
  TempDir dir_;
  std::unique_ptr<TlmLogFile> log_;
  TlmLogFile* previous_ = nullptr;
};

// Records the calls; kinds from `kinds` on do not exist, as in the firework catalogue.
class RecordingTarget : public SongScriptTarget {
 public:
  struct Call {
    bool launch;
    int32_t kind;
    TKZ_Vectorf3 where;
    TKZ_Vectorf3 velocity;
    double lifeTime;
  };
  explicit RecordingTarget(int32_t kinds = 18) : kinds_(kinds) {}
  void Launch(int32_t kind, const TKZ_Vectorf3& position, const TKZ_Vectorf3& velocity, double lifeTime) override {
    if (kind < 0 || kind >= kinds_) throw EListError("List index out of bounds");
    calls.push_back({true, kind, position, velocity, lifeTime});
  }
  void Setup(int32_t kind, const TKZ_Vectorf3& location, double lifeTime) override {
    if (kind < 0 || kind >= kinds_) throw EListError("List index out of bounds");
    calls.push_back({false, kind, location, {}, lifeTime});
  }
  std::vector<Call> calls;

 private:
  int32_t kinds_;
};

inline void LoadScriptText(TSongScript& script, const std::string& text, bool append = false) {
  TMemoryStream stream;
  stream.WriteString(text);
  stream.SetPosition(0);
  TSongDataParser().ParseStream(stream, script, append);
}
