#pragma once
// Turns the score's timeline into the show's two song scripts: "melody.txt" follows the melody and
// the cymbal crashes, "guitar.txt" the guitar's chords and the drum fills.
#include <string>
#include <vector>

#include "song_score.h"

namespace song {

struct ScriptFile {
  std::string name;
  std::string text;
  int launches = 0;
  int setups = 0;
};

// Throws std::runtime_error when a script would not use every launch kind and every setup kind.
std::vector<ScriptFile> WriteScripts(const Timeline& timeline);

}  // namespace song
