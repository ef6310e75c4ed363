// Makes the bundled demo song from its score (song_score.cpp): the music, synthesised and encoded
// as Ogg Vorbis, and the two show scripts whose rockets burst on the same score's notes and hits.
//
// Usage: make_song <song folder>
// Writes <song folder>/music.ogg, melody.txt and guitar.txt; the same score always gives the same
// bytes.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "ogg_vorbis_writer.h"
#include "song_score.h"
#include "song_scripts.h"
#include "song_synth.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <song folder>\n", argv[0]);
    return 2;
  }
  try {
    const std::filesystem::path folder(argv[1]);
    std::filesystem::create_directories(folder);

    const song::Timeline timeline = song::ExpandScore();
    const std::vector<song::ScriptFile> scripts = song::WriteScripts(timeline);
    for (const song::ScriptFile& script : scripts) {
      std::ofstream out(folder / script.name, std::ios::binary | std::ios::trunc);
      out << script.text;
      out.close();
      if (!out) throw std::runtime_error("cannot write " + (folder / script.name).string());
    }
    const song::Pcm pcm = song::Render(timeline);
    song::WriteOggVorbis(pcm, (folder / "music.ogg").string(), "bbb");

    std::printf("make_song: %.1f s of music;", static_cast<double>(pcm.frames()) / song::kSampleRate);
    for (const song::ScriptFile& script : scripts)
      std::printf(" %s: %d launches, %d setups;", script.name.c_str(), script.launches, script.setups);
    std::printf("\n");
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_song: %s\n", e.what());
    return 1;
  }
}
