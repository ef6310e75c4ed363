#pragma once
// Shared pieces of the song-script tests: a recording firework target and loading from text.
#include <memory>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "framework/streams.h"
#include "show/song_script.h"
#include "tests/framework/captured_log.h"

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
