#include "song_scripts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>
#include <stdexcept>

namespace song {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kLaunchKinds = 18;
constexpr int kSetupKinds = 4;
constexpr int kGlitter = 0;   // launch kind: gold glitter burst
constexpr int kRainbow = 17;  // launch kind: rainbow burst

struct Vec3 {
  double x, y, z;
};

// A rocket is timed by its burst: the script gives the burst's score time as a negative statement
// time, and the show launches the rocket its flight time earlier.
struct Rocket {
  double burst;     // score time of the burst, seconds
  int kind;
  Vec3 from;
  bool aimed;       // false: no velocity, the rocket rises 5 units straight up in `flight` seconds
  Vec3 velocity;
  double flight;    // seconds; NaN (aimed rockets only): the time to fly 5 units at `velocity`
  std::string why;  // the score event it marks, written as a comment
};

// A fountain (setup kind) burning from `start` for `duration` seconds.
struct Fountain {
  double start;
  int kind;
  Vec3 at;
  double duration;
  std::string why;
};

struct Part {
  std::string file, title;
  std::vector<Rocket> rockets;
  std::vector<Fountain> fountains;
};

// ---------------------------------------------------------------------------------------------
// Score events -> fireworks
// ---------------------------------------------------------------------------------------------

// Launch kind of a coloured family: rings 1-4, spheres 5-8 and cones 9-12 go red, gold, green, blue;
// blooms 13-16 go gold, red, green, blue.
int coloured_kind(Family family, Colour colour) {
  const int c = static_cast<int>(colour);
  switch (family) {
    case Family::Ring: return 1 + c;
    case Family::Sphere: return 5 + c;
    case Family::Cone: return 9 + c;
    case Family::Bloom: {
      static const int kBloom[] = {14, 13, 15, 16};
      return kBloom[c];
    }
    case Family::None: break;
  }
  return -1;
}

// The colour of a melody note, by pitch class: the same colours as the chords built on that note.
Colour pitch_colour(int pitch) {
  static const Colour kByClass[12] = {Colour::Gold,  Colour::Gold,  Colour::Green, Colour::Green,
                                      Colour::Blue,  Colour::Green, Colour::Green, Colour::Red,
                                      Colour::Red,   Colour::Blue,  Colour::Blue,  Colour::Gold};
  return kByClass[pitch % 12];
}

std::string pitch_name(int pitch) {
  static const char* const kNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
  return kNames[pitch % 12] + std::to_string(pitch / 12 - 1);
}

const SectionSpan& section_at(const Timeline& tl, double t) {
  for (const SectionSpan& s : tl.sections)
    if (t < s.end) return s;
  return tl.sections.back();
}

// melody.txt:
// - an accented melody note (on the first or third beat of its bar, or held for two beats or more)
//   bursts in the section's melody family, coloured by its pitch, higher and further right the
//   higher the note;
// - the last note of each section's melody bursts as a rainbow;
// - each cymbal crash bursts two glitter rockets, one on each side;
// - the section's melody fountain burns on the right through the whole section.
Part melody_part(const Timeline& tl) {
  Part p{"melody.txt", "the melody and the cymbal crashes", {}, {}};
  for (const MelodyNote& n : tl.melody) {
    const Family family = section_at(tl, n.start).section->melody_bursts;
    const double in_bar = std::fmod(n.start, kBarSeconds);
    const bool accented = in_bar == 0 || in_bar == 2 * kBeatSeconds || n.length >= 2 * kBeatSeconds;
    const double x = -2.5 + 0.25 * (n.pitch - 64);
    const double height = 4.0 + 0.15 * (n.pitch - 64);
    if (n.phrase_end)
      p.rockets.push_back({n.start, kRainbow, {x, 0, -1}, true, {0, 6, 0}, kNaN, pitch_name(n.pitch) + ", last note"});
    else if (accented && family != Family::None)
      p.rockets.push_back({n.start, coloured_kind(family, pitch_colour(n.pitch)), {x, 0, -1}, true,
                           {0, height, 0}, 1.0, pitch_name(n.pitch)});
  }
  for (const DrumHit& h : tl.drums) {
    if (h.drum != Drum::Crash) continue;
    p.rockets.push_back({h.time, kGlitter, {-2.5, 0, -1.5}, false, {}, 1.25, "crash"});
    p.rockets.push_back({h.time, kGlitter, {2.5, 0, -1.5}, false, {}, 1.25, "crash"});
  }
  for (const SectionSpan& s : tl.sections)
    if (s.section->melody_fountain >= 0)
      p.fountains.push_back({s.start, s.section->melody_fountain, {2, 0, -2.5}, s.end - s.start, "fountain"});
  return p;
}

// guitar.txt:
// - each chord change rises straight up and bursts in the section's guitar family, coloured by the
//   chord, further right the higher its root;
// - the first hit of each drum fill bursts two glitter rockets, thrown inwards from both sides;
// - each cymbal crash bursts a rainbow in the middle;
// - the section's guitar fountain burns on the left through the whole section.
Part guitar_part(const Timeline& tl) {
  Part p{"guitar.txt", "the guitar's chords and the drums", {}, {}};
  for (const Bar& b : tl.bars) {
    const Family family = section_at(tl, b.start).section->guitar_bursts;
    if (!b.chord_change || family == Family::None) continue;
    const double x = -3.0 + 0.5 * (b.chord->bass % 12);
    p.rockets.push_back({b.start, coloured_kind(family, b.chord->colour), {x, 0, -2}, false, {}, 1.5, b.chord->name});
  }
  for (const DrumHit& h : tl.drums) {
    if (h.fill_start) {
      p.rockets.push_back({h.time, kGlitter, {-3, 0, -2}, true, {1.5, 5, 0}, 1.0, "fill"});
      p.rockets.push_back({h.time, kGlitter, {3, 0, -2}, true, {-1.5, 5, 0}, 1.0, "fill"});
    } else if (h.drum == Drum::Crash) {
      p.rockets.push_back({h.time, kRainbow, {0, 0, -2}, true, {0, 8, 0}, kNaN, "crash"});
    }
  }
  for (const SectionSpan& s : tl.sections)
    if (s.section->guitar_fountain >= 0)
      p.fountains.push_back({s.start, s.section->guitar_fountain, {-2, 0, -2.5}, s.end - s.start, "fountain"});
  return p;
}

// ---------------------------------------------------------------------------------------------
// Writing the statements
// ---------------------------------------------------------------------------------------------

// The flight time the show derives for a rocket: an aimed rocket without a flight time covers 5
// units, computed in single precision as the show does.
double flight_time(const Rocket& r) {
  if (!std::isnan(r.flight)) return r.flight;
  const float length = std::sqrt(static_cast<float>(r.velocity.x * r.velocity.x + r.velocity.y * r.velocity.y +
                                                    r.velocity.z * r.velocity.z));
  return static_cast<double>(5.0f / length);
}

// Plain decimal notation (the script format has no exponent), at most three decimals, never "-0".
std::string number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", v);
  std::string s(text);
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

std::string vec(const Vec3& v) { return "(" + number(v.x) + ", " + number(v.y) + ", " + number(v.z) + ")"; }

struct Line {
  double time;  // score time the statement marks, for ordering
  std::string text;
};

// A burst on a section's first beat is written in the section before: its relative time there
// would be 0, and -0 is no negative time, so the burst rule would not apply.
bool in_block_of_launch(const SectionSpan& s, const Rocket& r) { return r.burst > s.start && r.burst <= s.end; }

ScriptFile write_part(const Part& part, const Timeline& tl) {
  ScriptFile out;
  out.name = part.file;
  std::string& t = out.text;
  t += "# " + part.file + ": fireworks on " + part.title + " of the demo song.\n";
  t += "# Made by tools/make_song from its score: change the score there, not this file.\n";
  t += "# A negative time is the moment of a burst; \"base\" shifts the times of the statements after it\n";
  t += "# to the start of their section. A burst on the first beat of a section is written at the end\n";
  t += "# of the section before it.\n";
  std::set<int> launch_kinds, setup_kinds;
  for (const SectionSpan& s : tl.sections) {
    std::vector<Line> lines;
    for (const Rocket& r : part.rockets) {
      if (!in_block_of_launch(s, r)) continue;
      if (r.burst - flight_time(r) < 0) continue;  // nothing can be in the air before the music starts
      if (!r.aimed && std::isnan(r.flight)) throw std::logic_error("a rocket needs a velocity or a flight time");
      lines.push_back({r.burst, "-" + number(r.burst - s.start) + " launch(" + std::to_string(r.kind) + ", " +
                                    vec(r.from) + ", " + (r.aimed ? vec(r.velocity) : "NaN") + ", " +
                                    (std::isnan(r.flight) ? "NaN" : number(r.flight)) + ");  # " + r.why});
      launch_kinds.insert(r.kind);
      ++out.launches;
    }
    for (const Fountain& f : part.fountains) {
      if (f.start < s.start || f.start >= s.end) continue;
      lines.push_back({f.start, number(f.start - s.start) + " setup(" + std::to_string(f.kind) + ", " + vec(f.at) +
                                    ", " + number(f.duration) + ");  # " + f.why});
      setup_kinds.insert(f.kind);
      ++out.setups;
    }
    std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.time < b.time; });

    if (lines.empty()) continue;
    const int first_bar = static_cast<int>(std::lround(s.start / kBarSeconds)) + 1;
    const int last_bar = static_cast<int>(std::lround(s.end / kBarSeconds));
    const std::string bars = first_bar == last_bar ? "bar " + std::to_string(first_bar)
                                                   : "bars " + std::to_string(first_bar) + " to " + std::to_string(last_bar);
    t += "\n# " + std::string(s.section->name) + ", " + bars + " (" + number(s.start) + " s to " + number(s.end) + " s)\n";
    t += "base;\n";
    if (s.start > 0) t += number(s.start) + " base;\n";
    for (const Line& l : lines) t += l.text + "\n";
  }
  for (int k = 0; k < kLaunchKinds; ++k)
    if (!launch_kinds.count(k)) throw std::runtime_error(part.file + " fires no rocket of launch kind " + std::to_string(k));
  for (int k = 0; k < kSetupKinds; ++k)
    if (!setup_kinds.count(k)) throw std::runtime_error(part.file + " sets up no fountain of kind " + std::to_string(k));
  return out;
}

}  // namespace

std::vector<ScriptFile> WriteScripts(const Timeline& timeline) {
  return {write_part(melody_part(timeline), timeline), write_part(guitar_part(timeline), timeline)};
}

}  // namespace song
