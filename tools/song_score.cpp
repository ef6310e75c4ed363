#include "song_score.h"

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace song {
namespace {

// ---------------------------------------------------------------------------------------------
// The score
// ---------------------------------------------------------------------------------------------

const Chord kChords[] = {
    // name  guitar voicing (MIDI)        bass  colour of its fireworks
    {"C", {48, 52, 55, 60, 64}, 36, Colour::Gold},
    {"Am", {45, 52, 57, 60, 64}, 33, Colour::Blue},
    {"F", {41, 48, 53, 57, 60}, 41, Colour::Green},
    {"G", {43, 47, 50, 55, 59}, 43, Colour::Red},
    {"Em", {40, 47, 52, 55, 59}, 40, Colour::Blue},
    {"Dm", {45, 50, 57, 62, 65}, 38, Colour::Green},
};

// Grooves: kick, snare, closed hat, open hat; one bar of sixteenth-note steps each.
const char* const kHatsOnly[] = {"................", "................", "x.x.x.x.x.x.x.x.", "................"};
const char* const kBackbeat[] = {"x.......x.......", "....x.......x...", "x.x.x.x.x.x.x.x.", "................"};
const char* const kDriving[] = {"x.....x.x.....x.", "....x.......x...", "x.x.x.x.x.x.x...", "..............x."};
const char* const kHalfTime[] = {"x.........x.....", "........x.......", "x...x...x...x...", "................"};
const char* const kFinal[] = {"x...............", "................", "................", "................"};

// Guitar: digits pluck that tone of the voicing (0 = lowest), 'D' strums down, 'U' strums up.
const char* const kArpeggio = "0.1.2.3.4.3.2.1.";
const char* const kStrum = "D...D.U...U.D.U.";
const char* const kRing = "D...............";

// Bass: '0' the chord's bass note, '5' its fifth, '8' its octave; a note lasts until the next one.
const char* const kNoBass = "................";
const char* const kBassHalf = "0.......0.......";
const char* const kBassDrive = "0.0.0.0.0.0.8.0.";
const char* const kBassWhole = "0...........5...";
const char* const kBassHold = "0...............";

const char* const kVerse =
    "G4:1 E4:.5 G4:.5 C5:1 E5:1 | D5:1 C5:1 A4:2 | A4:1 C5:.5 A4:.5 F4:1 A4:1 | G4:3 r:1 | "
    "G4:1 E4:.5 G4:.5 C5:1 E5:1 | G5:1 E5:1 C5:1 A4:1 | F5:1 E5:1 D5:1 C5:1 | D5:3 r:1";
const char* const kChorus =
    "A5:1.5 G5:.5 F5:1 C5:1 | D5:1.5 E5:.5 D5:1 B4:1 | E5:1.5 D5:.5 E5:1 G5:1 | A5:2 E5:2 | "
    "A5:1.5 G5:.5 F5:1 A5:1 | B5:1.5 A5:.5 G5:1 D5:1 | E5:1 D5:1 E5:1 G5:1 | C6:3 r:1";
const char* const kBridge =
    "C5:2 B4:1 A4:1 | B4:2 G4:2 | A4:2 C5:1 F5:1 | E5:4 | "
    "F5:2 E5:1 D5:1 | D5:2 B4:1 G4:1 | A4:1 C5:1 F5:1 A5:1 | G5:3 r:1";
const char* const kOutro = "A4:1 C5:1 F5:2 | G5:1 F5:1 D5:2 | C5:2 E5:2 | D5:3 r:1";
const char* const kEnding = "C5:4";

// The fireworks columns: the family each part fires on its accents, and the fountain (setup kind)
// each part keeps burning through the section.
const Section kSections[] = {
  // name      chords                melody   groove     guitar     bass        melody bursts   guitar bursts   fountains (melody, guitar)
    {"intro",  "C Am F G",           "",      kHatsOnly, kArpeggio, kNoBass,    Family::None,   Family::Bloom,  -1,         0},
    {"verse",  "C Am F G C Am F G",  kVerse,  kBackbeat, kArpeggio, kBassHalf,  Family::Sphere, Family::Ring,   1,          -1},
    {"chorus", "F G Em Am F G C C",  kChorus, kDriving,  kStrum,    kBassDrive, Family::Ring,   Family::Sphere, 2,          3},
    {"bridge", "Am Em F C Dm G F G", kBridge, kHalfTime, kArpeggio, kBassWhole, Family::Cone,   Family::Bloom,  0,          -1},
    {"verse",  "C Am F G C Am F G",  kVerse,  kBackbeat, kStrum,    kBassHalf,  Family::Bloom,  Family::Cone,   -1,         1},
    {"chorus", "F G Em Am F G C C",  kChorus, kDriving,  kStrum,    kBassDrive, Family::Ring,   Family::Sphere, 3,          2},
    {"outro",  "F G Am G",           kOutro,  kBackbeat, kArpeggio, kBassHalf,  Family::Sphere, Family::Ring,   -1,         -1},
    {"ending", "C",                  kEnding, kFinal,    kRing,     kBassHold,  Family::None,   Family::Bloom,  -1,         -1},
};

// ---------------------------------------------------------------------------------------------
// Expansion
// ---------------------------------------------------------------------------------------------

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("score: " + what); }

const Chord* find_chord(const std::string& name) {
  for (const Chord& c : kChords)
    if (c.name == name) return &c;
  fail("unknown chord '" + name + "'");
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// "C5", "F#4", "Bb3" -> MIDI note number (C4 = 60).
int parse_pitch(const std::string& name) {
  static const int kNatural[] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
  if (name.size() < 2 || name[0] < 'A' || name[0] > 'G') fail("bad pitch '" + name + "'");
  int pitch_class = kNatural[name[0] - 'A'];
  size_t i = 1;
  if (name[i] == '#') ++pitch_class, ++i;
  else if (name[i] == 'b') --pitch_class, ++i;
  if (i + 1 != name.size() || name[i] < '0' || name[i] > '9') fail("bad pitch '" + name + "'");
  return 12 * (name[i] - '0' + 1) + pitch_class;
}

void check_pattern(const char* pattern, const char* allowed) {
  const std::string p(pattern);
  if (p.size() != kStepsPerBar || p.find_first_not_of(allowed) != std::string::npos)
    fail("bad step pattern '" + p + "'");
}

void expand_melody(const Section& s, double start, int bars, Timeline& out) {
  const size_t first = out.melody.size();
  double beat = 0;   // beats since the section's start
  int bar_end = kBeatsPerBar;
  for (const std::string& token : words(s.melody)) {
    if (token == "|") {
      if (beat != bar_end) fail(std::string(s.name) + ": a bar of the melody does not hold four beats");
      bar_end += kBeatsPerBar;
      continue;
    }
    const size_t colon = token.find(':');
    if (colon == std::string::npos) fail("bad melody token '" + token + "'");
    const double beats = std::strtod(token.c_str() + colon + 1, nullptr);
    if (!(beats > 0)) fail("bad melody token '" + token + "'");
    const std::string name = token.substr(0, colon);
    if (name != "r") {
      const bool downbeat = std::fmod(beat, kBeatsPerBar) == 0;
      out.melody.push_back({{start + beat * kBeatSeconds, beats * kBeatSeconds, parse_pitch(name), downbeat ? 0.9 : 0.75},
                            false});
    }
    beat += beats;
  }
  if (s.melody[0] != '\0' && (beat != bar_end || beat != bars * kBeatsPerBar))
    fail(std::string(s.name) + ": the melody does not fill the section");
  if (out.melody.size() > first) out.melody.back().phrase_end = true;
}

void expand_bar(const Section& s, const Chord& chord, double start, bool fill, bool crash, Timeline& out) {
  const Drum kGrooveDrums[] = {Drum::Kick, Drum::Snare, Drum::Hat, Drum::OpenHat};
  if (crash) out.drums.push_back({start, Drum::Crash, 1.0, false});
  for (int step = 0; step < kStepsPerBar; ++step) {
    const double t = start + step * kStepSeconds;
    const double accent = step % 4 == 0 ? 1.0 : 0.7;
    // The fill: four snare sixteenths on the bar's last beat, the groove silent under them.
    if (fill && step >= kStepsPerBar - 4) {
      out.drums.push_back({t, Drum::Snare, 0.6 + 0.1 * (step - (kStepsPerBar - 4)), step == kStepsPerBar - 4});
      continue;
    }
    for (int d = 0; d < 4; ++d)
      if (s.groove[d][step] == 'x') out.drums.push_back({t, kGrooveDrums[d], accent, false});

    const char g = s.guitar[step];
    if (g >= '0' && g <= '9') {
      const size_t tone = static_cast<size_t>(g - '0');
      if (tone >= chord.guitar.size()) fail("guitar pattern names a missing chord tone");
      out.guitar.push_back({t, {chord.guitar[tone]}, 0.8 * accent});
    } else if (g == 'D') {
      out.guitar.push_back({t, chord.guitar, accent});
    } else if (g == 'U') {  // up strokes strike the top three strings, highest first
      std::vector<int> up(chord.guitar.rbegin(), chord.guitar.rbegin() + 3);
      out.guitar.push_back({t, up, 0.6});
    }
  }
  // Bass notes last until the next one or the end of the bar.
  for (int step = 0; step < kStepsPerBar; ++step) {
    const char b = s.bass[step];
    if (b == '.') continue;
    int next = step + 1;
    while (next < kStepsPerBar && s.bass[next] == '.') ++next;
    const int interval = b == '5' ? 7 : b == '8' ? 12 : 0;
    out.bass.push_back({start + step * kStepSeconds, (next - step) * kStepSeconds, chord.bass + interval,
                        step == 0 ? 1.0 : 0.8});
  }
  // A quiet pad holds the chord's upper tones through the bar.
  for (size_t i = 2; i < chord.guitar.size(); ++i) out.pad.push_back({start, kBarSeconds, chord.guitar[i] + 12, 1.0});
}

}  // namespace

Timeline ExpandScore() {
  Timeline out;
  double start = 0;
  const Chord* previous = nullptr;
  const size_t count = sizeof kSections / sizeof kSections[0];
  for (size_t i = 0; i < count; ++i) {
    const Section& s = kSections[i];
    for (int d = 0; d < 4; ++d) check_pattern(s.groove[d], "x.");
    check_pattern(s.guitar, "0123456789DU.");
    check_pattern(s.bass, "058.");
    const std::vector<std::string> chords = words(s.chords);
    if (chords.empty()) fail(std::string(s.name) + ": no bars");
    const int bars = static_cast<int>(chords.size());
    out.sections.push_back({&s, start, start + bars * kBarSeconds});
    expand_melody(s, start, bars, out);
    for (int b = 0; b < bars; ++b) {
      const Chord* chord = find_chord(chords[b]);
      const double bar_start = start + b * kBarSeconds;
      out.bars.push_back({bar_start, chord, chord != previous});
      const bool last_bar_before_another_section = b == bars - 1 && i + 1 < count;
      expand_bar(s, *chord, bar_start, last_bar_before_another_section, b == 0 && i > 0, out);
      previous = chord;
    }
    start += bars * kBarSeconds;
  }
  out.end = start;
  // The last chord rings on: notes held to the end of the last bar go on through the tail.
  for (std::vector<Note>* notes : {&out.bass, &out.pad})
    for (Note& n : *notes)
      if (n.start + n.length == out.end) n.length += kTailSeconds;
  for (MelodyNote& n : out.melody)
    if (n.start + n.length == out.end) n.length += kTailSeconds;
  return out;
}

}  // namespace song
