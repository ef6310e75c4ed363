// The show's skip key (s: the firework effect lives through the skipped span in one step) taken at
// every quarter second of the bundled song's first 20 s, and with nine hand-launched rockets in
// flight: the show's firework effect, catalogue, song scripts and effect manager, driven at 60 frames
// per second through the recording GL (recording off), as the show's frame drives them. Reports, per
// case, the time of the skipping step and the worst engine frame in the 3 s after it, and the most
// particles alive. Drawing by the real GL driver comes on top (measured end to end).
// Two hostile scripts for comparison: a rocket whose path is not a number, and a million fountains
// set up at once.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "engine/context.h"
#include "engine/effect_manager.h"
#include "engine/frustum.h"
#include "framework/fs_manager.h"
#include "framework/random.h"
#include "framework/streams.h"
#include "show/firework.h"
#include "show/firework_catalogue.h"
#include "show/song_parser.h"
#include "show/song_script.h"
#include "tests/support/fake_gl.h"

namespace {

constexpr float kFrame = 1.0f / 60.0f;
constexpr double kSkipTarget = 15.0;
constexpr double kAudioLag = 0.25;

using Clock = std::chrono::steady_clock;
double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// The show's data as its start-up builds it, without textures and sound.
struct Show {
  // The bundled song's scripts, or the given script text instead.
  explicit Show(const std::string* text = nullptr) {
    fs.SetModDir(STARLACE_DATA_DIR "/");
    firework = std::make_unique<TkzFirework>();
    TKZ_Context& context = firework->Context();
    context.AddTexture(1, 4, 4);
    context.SetTexture(0);
    context.SetPhysicsMode(kzpmDrag);
    context.SetStorageMode(kzsBufferObject);
    context.ReserveParticles(1500);
    context.Enable(kzcDepthSort);
    BuildFireworkKinds(*firework, false);
    manager.SetInterval(0.001f);
    manager.AddEffect(firework.get(), false);
    script = std::make_unique<TSongScript>(firework.get());
    TSongDataParser parser;
    if (text != nullptr) {
      TMemoryStream stream;
      stream.WriteString(*text);
      stream.SetPosition(0);
      parser.ParseStream(stream, *script, false);
    } else {
      parser.ParseFile("songs/bbb/melody.txt", fs, *script, false);
      parser.ParseFile("songs/bbb/guitar.txt", fs, *script, true);
    }
    script->Prepare();
  }

  void play() {
    playing = true;
    script->Advance(-kAudioLag);
  }
  // One frame of the show: script, song time, effect manager update and render. Returns seconds.
  double frame(float delta) {
    const auto t0 = Clock::now();
    if (playing) {
      script->Advance(delta);
      song_time += delta;
    }
    manager.Update(delta);
    manager.Render(true);
    return seconds_since(t0);
  }
  // The skip key. Returns seconds.
  double skip() {
    const auto t0 = Clock::now();
    if (playing && song_time < kSkipTarget) {
      const double span = kSkipTarget - song_time;
      song_time = kSkipTarget;
      firework->Update(static_cast<float>(span));
      script->Seek(kSkipTarget);
    }
    return seconds_since(t0);
  }

  TfsManager fs;
  TKZU_EffectManager manager;
  std::unique_ptr<TkzFirework> firework;
  std::unique_ptr<TSongScript> script;
  bool playing = false;
  double song_time = 0.0;
};

struct Worst {
  double skip = 0.0;
  double frame_after = 0.0;
  uint32_t particles = 0;
  void after_skip(Show& show, double skip_seconds) {
    skip = std::max(skip, skip_seconds);
    particles = std::max(particles, show.firework->Context().GetParticleCount());
    for (int i = 0; i < 180; ++i) {
      frame_after = std::max(frame_after, show.frame(kFrame));
      particles = std::max(particles, show.firework->Context().GetParticleCount());
    }
  }
  void report(benchmark::State& state) const {
    state.counters["skip_ms"] = skip * 1e3;
    state.counters["worst_frame_after_ms"] = frame_after * 1e3;
    state.counters["most_particles"] = particles;
  }
};

struct Setting {
  Setting() {
    InitContextFrustumModule();
    InitEffectManagerModule();
    FakeGL::SetIdentity(fake.modelview);
    fake.modelview[13] = -5;  // the show's camera
    fake.modelview[14] = -5;
    fake.recording = false;
  }
  ~Setting() {
    DoneEffectManagerModule();
    DoneContextFrustumModule();
  }
  FakeGL fake;
};

// s pressed at song time 0, 0.25, ... 20 (s after 15 s does nothing).
void BM_SkipAtEveryQuarterSecond(benchmark::State& state) {
  Setting setting;
  Worst worst;
  double worst_at = 0.0;
  for (auto _ : state) {
    for (int quarter = 0; quarter <= 80; ++quarter) {
      RandSeed(1234u + static_cast<uint32_t>(quarter));
      Show show;
      show.play();
      const double at = quarter * 0.25;
      while (show.song_time < at) show.frame(kFrame);
      const double before = worst.skip;
      worst.after_skip(show, show.skip());
      if (worst.skip > before) worst_at = at;
    }
  }
  worst.report(state);
  state.counters["worst_skip_at_s"] = worst_at;
}
BENCHMARK(BM_SkipAtEveryQuarterSecond)->Iterations(1)->Unit(benchmark::kSecond);

// Return, nine rockets (keys 1 to 9, one every 0.1 s), then s.
void BM_SkipWithNineRockets(benchmark::State& state) {
  Setting setting;
  Worst worst;
  for (auto _ : state) {
    RandSeed(99u);
    Show show;
    show.play();
    for (int32_t kind = 0; kind < 9; ++kind) {
      show.firework->Launch(kind, {0, 0, 0}, {0, 10, 0}, std::numeric_limits<double>::quiet_NaN());
      for (int i = 0; i < 6; ++i) show.frame(kFrame);
    }
    worst.after_skip(show, show.skip());
  }
  worst.report(state);
}
BENCHMARK(BM_SkipWithNineRockets)->Iterations(3)->Unit(benchmark::kMillisecond);

// The bundled song played for 60 s without a skip: the ordinary frame, for comparison.
void BM_SongWithoutSkip(benchmark::State& state) {
  Setting setting;
  double worst_frame = 0.0;
  uint32_t most = 0;
  for (auto _ : state) {
    RandSeed(5u);
    Show show;
    show.play();
    while (show.song_time < 60.0) {
      worst_frame = std::max(worst_frame, show.frame(kFrame));
      most = std::max(most, show.firework->Context().GetParticleCount());
    }
  }
  state.counters["worst_frame_ms"] = worst_frame * 1e3;
  state.counters["most_particles"] = most;
}
BENCHMARK(BM_SongWithoutSkip)->Iterations(1)->Unit(benchmark::kSecond);

// The worst frame and the most particles of the first `seconds` of a script played from Return.
void PlayScript(benchmark::State& state, const std::string& text, double seconds) {
  Setting setting;
  double worst_frame = 0.0;
  uint32_t most = 0;
  for (auto _ : state) {
    RandSeed(11u);
    Show show(&text);
    show.play();
    while (show.song_time < seconds) {
      worst_frame = std::max(worst_frame, show.frame(kFrame));
      most = std::max(most, show.firework->Context().GetParticleCount());
    }
  }
  state.counters["worst_frame_ms"] = worst_frame * 1e3;
  state.counters["most_particles"] = most;
}

// A rocket whose position is not a number: its path length is not a number either.
void BM_RocketWithoutAPlace(benchmark::State& state) {
  PlayScript(state, "0 launch(0, (NaN, 0, 0), (0, 10, 0), 1);", 3.0);
}
BENCHMARK(BM_RocketWithoutAPlace)->Iterations(1)->Unit(benchmark::kSecond);

// A million fountains set up at 0: the frame that carries them out is the worst.
void BM_MillionSetupsAtOnce(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < 1000000; ++i) text += "0 setup(0, (0, 0, 0), 5);\n";
  PlayScript(state, text, 1.0);
}
BENCHMARK(BM_MillionSetupsAtOnce)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
