#include "song_synth.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace song {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2 * kPi;

double frequency(int pitch) { return 440.0 * std::pow(2.0, (pitch - 69) / 12.0); }

// A small linear congruential generator: the noise of the drums and plucks must not depend on the
// standard library's implementation.
class Noise {
 public:
  explicit Noise(uint32_t seed) : state_(seed * 2654435761u + 1u) {}
  double next() {  // -1..1
    state_ = state_ * 1664525u + 1013904223u;
    return (state_ >> 8) / 8388608.0 - 1.0;
  }

 private:
  uint32_t state_;
};

class Mixer {
 public:
  explicit Mixer(size_t frames) { pcm_.left.assign(frames, 0.f); pcm_.right.assign(frames, 0.f); }
  // Adds a mono sample at frame i with a pan of -1 (left) .. 1 (right).
  void add(size_t i, double v, double pan) {
    if (i >= pcm_.frames()) return;
    pcm_.left[i] += static_cast<float>(v * std::sqrt(0.5 * (1 - pan)));
    pcm_.right[i] += static_cast<float>(v * std::sqrt(0.5 * (1 + pan)));
  }
  Pcm& pcm() { return pcm_; }

 private:
  Pcm pcm_;
};

size_t frame_of(double seconds) { return static_cast<size_t>(std::lround(seconds * kSampleRate)); }

// Attack, then hold, then a release after the note's length.
double envelope(double t, double length, double attack, double release) {
  if (t < attack) return t / attack;
  if (t < length) return 1.0;
  return std::max(0.0, 1.0 - (t - length) / release);
}

// Melody: a few harmonics with a slow vibrato, into its own bus for the echo.
void render_lead(const std::vector<MelodyNote>& notes, Mixer& bus) {
  for (const MelodyNote& n : notes) {
    const double f = frequency(n.pitch);
    const double release = 0.12;
    const size_t first = frame_of(n.start);
    const size_t count = frame_of(n.length + release);
    double phase = 0;
    for (size_t k = 0; k < count; ++k) {
      const double t = static_cast<double>(k) / kSampleRate;
      const double vibrato = 1.0 + 0.004 * std::sin(kTwoPi * 5.0 * t) * std::min(1.0, t / 0.4);
      phase += kTwoPi * f * vibrato / kSampleRate;
      const double decay = 0.75 + 0.25 * std::exp(-t / 0.3);
      const double v = std::sin(phase) + 0.4 * std::sin(2 * phase) + 0.15 * std::sin(3 * phase) +
                       0.06 * std::sin(4 * phase);
      bus.add(first + k, 0.26 * n.velocity * decay * envelope(t, n.length, 0.015, release) * v, 0.0);
    }
  }
}

// A dotted-eighth echo that bounces between the sides, mixed under the dry melody.
void mix_lead_with_echo(const Pcm& lead, Mixer& mix) {
  const size_t delay = frame_of(0.75 * kBeatSeconds);
  std::vector<double> echo_l(lead.frames(), 0.0), echo_r(lead.frames(), 0.0);
  for (size_t i = 0; i < lead.frames(); ++i) {
    const double dry = lead.left[i];
    if (i >= delay) {
      echo_l[i] = 0.45 * (dry + echo_r[i - delay]);
      echo_r[i] = 0.45 * echo_l[i - delay];
    }
    mix.add(i, dry, 0.15);
    mix.add(i, 0.55 * echo_l[i], -0.8);
    mix.add(i, 0.55 * echo_r[i], 0.8);
  }
}

// Guitar: Karplus-Strong plucked strings; each string rings until the chord changes.
void render_guitar(const Timeline& tl, Mixer& mix) {
  uint32_t seed = 1;
  for (const Strum& s : tl.guitar) {
    double stop = tl.end + kTailSeconds;  // the last chord rings to the end
    for (const Bar& b : tl.bars)
      if (b.chord_change && b.start > s.start + 1e-9) { stop = std::min(stop, b.start + 0.05); break; }
    for (size_t string = 0; string < s.pitches.size(); ++string) {
      const double onset = s.start + 0.012 * string;  // a strum sweeps across the strings
      const double delay = kSampleRate / frequency(s.pitches[string]);
      const size_t count = frame_of(std::max(0.1, stop - onset));
      std::vector<double> y(count + 2, 0.0);
      Noise noise(seed++);
      const size_t burst = static_cast<size_t>(std::ceil(delay)) + 2;
      double smooth = 0;
      for (size_t k = 0; k < std::min(burst, y.size()); ++k) {  // a softened noise burst excites the string
        smooth = 0.5 * smooth + 0.5 * noise.next();
        y[k] = smooth;
      }
      // Two taps one sample apart around the loop delay: their average is the string's damping.
      auto tap = [&](size_t k, double d) {
        const double pos = static_cast<double>(k) - d;
        if (pos < 0) return 0.0;
        const size_t i = static_cast<size_t>(pos);
        const double fr = pos - static_cast<double>(i);
        return (1 - fr) * y[i] + fr * y[i + 1];
      };
      for (size_t k = burst; k < count; ++k) y[k] = 0.996 * 0.5 * (tap(k, delay - 0.5) + tap(k, delay + 0.5));
      const size_t first = frame_of(onset);
      const double pan = -0.45 + 0.1 * static_cast<double>(string);
      for (size_t k = 0; k < count; ++k) {
        const double fade = std::min(1.0, static_cast<double>(count - k) / (0.03 * kSampleRate));
        mix.add(first + k, 0.3 * s.velocity * fade * y[k], pan);
      }
    }
  }
}

void render_bass(const std::vector<Note>& notes, Mixer& mix) {
  for (const Note& n : notes) {
    const double f = frequency(n.pitch);
    const size_t first = frame_of(n.start);
    const size_t count = frame_of(n.length + 0.05);
    for (size_t k = 0; k < count; ++k) {
      const double t = static_cast<double>(k) / kSampleRate;
      const double p = kTwoPi * f * t;
      const double v = std::tanh(1.2 * (std::sin(p) + 0.3 * std::sin(2 * p)));
      const double env = envelope(t, n.length - 0.02, 0.006, 0.06) * (0.7 + 0.3 * std::exp(-t / 0.15));
      mix.add(first + k, 0.22 * n.velocity * env * v, 0.0);
    }
  }
}

// Pad: pairs of slightly detuned sines, one to each side.
void render_pad(const std::vector<Note>& notes, Mixer& mix) {
  for (const Note& n : notes) {
    const double f = frequency(n.pitch);
    const size_t first = frame_of(n.start);
    const size_t count = frame_of(n.length + 0.3);
    for (size_t k = 0; k < count; ++k) {
      const double t = static_cast<double>(k) / kSampleRate;
      const double env = 0.025 * envelope(t, n.length, 0.3, 0.3);
      mix.add(first + k, env * std::sin(kTwoPi * f * 1.0015 * t), -0.7);
      mix.add(first + k, env * std::sin(kTwoPi * f * 0.9985 * t), 0.7);
    }
  }
}

void render_drums(const std::vector<DrumHit>& hits, Mixer& mix) {
  uint32_t seed = 1000;
  for (const DrumHit& h : hits) {
    Noise noise(seed++);
    const size_t first = frame_of(h.time);
    double previous = 0;
    auto high_passed = [&]() {  // first difference: keeps the hiss, drops the rumble
      const double n = noise.next();
      const double v = n - previous;
      previous = n;
      return 0.5 * v;
    };
    switch (h.drum) {
      case Drum::Kick: {
        double phase = 0;
        for (size_t k = 0; k < frame_of(0.4); ++k) {
          const double t = static_cast<double>(k) / kSampleRate;
          phase += kTwoPi * (45.0 + 80.0 * std::exp(-t / 0.03)) / kSampleRate;
          mix.add(first + k, 0.6 * h.velocity * std::exp(-t / 0.16) * std::sin(phase), 0.0);
        }
        break;
      }
      case Drum::Snare:
        for (size_t k = 0; k < frame_of(0.3); ++k) {
          const double t = static_cast<double>(k) / kSampleRate;
          const double v = 0.8 * std::exp(-t / 0.09) * noise.next() + 0.5 * std::exp(-t / 0.05) * std::sin(kTwoPi * 185 * t);
          mix.add(first + k, 0.32 * h.velocity * v, 0.05);
        }
        break;
      case Drum::Hat:
      case Drum::OpenHat: {
        const double decay = h.drum == Drum::Hat ? 0.025 : 0.18;
        for (size_t k = 0; k < frame_of(6 * decay); ++k) {
          const double t = static_cast<double>(k) / kSampleRate;
          mix.add(first + k, 0.16 * h.velocity * std::exp(-t / decay) * high_passed(), 0.35);
        }
        break;
      }
      case Drum::Crash:
        for (size_t k = 0; k < frame_of(2.5); ++k) {
          const double t = static_cast<double>(k) / kSampleRate;
          mix.add(first + k, 0.2 * h.velocity * std::exp(-t / 0.8) * high_passed(), -0.3);
        }
        break;
    }
  }
}

}  // namespace

Pcm Render(const Timeline& tl) {
  const size_t frames = frame_of(tl.end + kTailSeconds);
  Mixer lead(frames);
  render_lead(tl.melody, lead);
  Mixer mix(frames);
  mix_lead_with_echo(lead.pcm(), mix);
  render_guitar(tl, mix);
  render_bass(tl.bass, mix);
  render_pad(tl.pad, mix);
  render_drums(tl.drums, mix);

  Pcm& pcm = mix.pcm();
  float peak = 1e-6f;
  for (size_t i = 0; i < frames; ++i) peak = std::max({peak, std::fabs(pcm.left[i]), std::fabs(pcm.right[i])});
  const float gain = 0.89f / peak;
  // A short fade at the very end so the file never stops on a click.
  const size_t fade = frame_of(0.5);
  for (size_t i = 0; i < frames; ++i) {
    const float f = i + fade > frames ? static_cast<float>(frames - i) / static_cast<float>(fade) : 1.0f;
    pcm.left[i] *= gain * f;
    pcm.right[i] *= gain * f;
  }
  return std::move(pcm);
}

}  // namespace song
