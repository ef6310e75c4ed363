#pragma once
// Renders the score's timeline into stereo PCM: a lead voice with an echo for the melody, a plucked
// string guitar, a bass, a quiet pad and a small drum kit. Noise comes from a fixed-seed generator,
// so the same score always gives the same samples.
#include <vector>

#include "song_score.h"

namespace song {

constexpr int kSampleRate = 44100;

struct Pcm {
  std::vector<float> left, right;  // -1..1
  size_t frames() const { return left.size(); }
};

// The timeline plus kTailSeconds of ring-out, normalised to a peak just below full scale.
Pcm Render(const Timeline& timeline);

}  // namespace song
