#pragma once
// Encodes stereo PCM into an Ogg Vorbis file with fixed settings and a fixed stream serial number,
// so that the same samples always give the same bytes.
#include <string>

#include "song_synth.h"

namespace song {

// Throws std::runtime_error when the encoder cannot be set up or the file cannot be written.
void WriteOggVorbis(const Pcm& pcm, const std::string& path, const std::string& title);

}  // namespace song
