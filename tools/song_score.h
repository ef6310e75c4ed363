#pragma once
// The demo song's score: one table of sections (chords, melody, groove, and which fireworks each part
// of the show fires), expanded into a timeline of notes and hits in seconds. Both the music and the
// two show scripts are made from this one timeline, so every burst lands on a note of the music.
#include <string>
#include <vector>

namespace song {

constexpr double kBeatSeconds = 0.5;  // 120 beats per minute
constexpr int kBeatsPerBar = 4;
constexpr int kStepsPerBar = 16;      // grooves are written in sixteenth notes
constexpr double kBarSeconds = kBeatSeconds * kBeatsPerBar;
constexpr double kStepSeconds = kBarSeconds / kStepsPerBar;
constexpr double kTailSeconds = 2.0;  // the last chord rings on after the last bar

// The four colours of the firework catalogue's coloured kinds.
enum class Colour { Red, Gold, Green, Blue };
// Which burst family a part fires on its accents in a section.
enum class Family { None, Ring, Sphere, Cone, Bloom };

struct Chord {
  std::string name;
  std::vector<int> guitar;  // voicing, MIDI note numbers from low to high
  int bass;                 // MIDI note number
  Colour colour;            // colour of the fireworks the chord fires
};

// One row of the score.
struct Section {
  const char* name;
  const char* chords;  // one chord name per bar
  const char* melody;  // "pitch:beats" tokens ("r" rests), bars separated by "|"
  const char* const* groove;  // kick, snare, closed hat, open hat: one bar of steps each
  const char* guitar;  // step pattern: chord-tone digits (arpeggio), 'D' and 'U' (strums)
  const char* bass;    // step pattern: '0' root, '5' fifth, '8' octave
  Family melody_bursts;
  Family guitar_bursts;
  int melody_fountain;  // setup kind placed for the whole section by each part, -1 for none
  int guitar_fountain;
};

enum class Drum { Kick, Snare, Hat, OpenHat, Crash };

struct Note {
  double start, length;  // seconds
  int pitch;             // MIDI note number
  double velocity;       // 0..1
};

struct MelodyNote : Note {
  bool phrase_end;  // the last note of its section's melody
};

struct DrumHit {
  double time;
  Drum drum;
  double velocity;
  bool fill_start;  // first hit of the snare fill that closes a section
};

struct Bar {
  double start;
  const Chord* chord;
  bool chord_change;  // first bar of the piece or a different chord from the bar before
};

struct Strum {
  double start;
  std::vector<int> pitches;  // in the order the strings are struck
  double velocity;
};

struct SectionSpan {
  const Section* section;
  double start, end;
};

struct Timeline {
  std::vector<SectionSpan> sections;
  std::vector<Bar> bars;
  std::vector<MelodyNote> melody;
  std::vector<Note> bass;
  std::vector<Note> pad;
  std::vector<Strum> guitar;  // a single plucked note is a strum of one string
  std::vector<DrumHit> drums;
  double end = 0;  // end of the last bar
};

// Expands the score table; throws std::runtime_error when the table is malformed (a bar of the
// melody that does not hold four beats, an unknown chord, a bad pattern).
Timeline ExpandScore();

}  // namespace song
