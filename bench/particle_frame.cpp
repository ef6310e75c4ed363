// One frame of a particle context in the show's configuration: drag physics, animation with a
// three-keyframe model, geometry, depth sort, frustum culling, vertex-array storage in
// GL_T2F_C4UB_V3F, step and release hooks assigned; against the recording GL fake with recording off.
// Particles die and are replaced after every frame (as the firework effect does), so the pool and
// the storage are in steady state. Reports ns per particle and heap allocations per frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "engine/appearance.h"
#include "engine/context.h"
#include "engine/frustum.h"
#include "engine/vertex_storage.h"
#include "framework/random.h"
#include "tests/support/allocation_hooks.h"  // counts every operator new of the program
#include "tests/support/fake_gl.h"

namespace {

// A column-major perspective projection (what gluPerspective builds).
void Perspective(std::array<float, 16>& m, float fovy_degrees, float aspect, float znear, float zfar) {
  const float f = 1.0f / std::tan(fovy_degrees * 3.14159265f / 360.0f);
  m.fill(0.0f);
  m[0] = f / aspect;
  m[5] = f;
  m[10] = (zfar + znear) / (znear - zfar);
  m[11] = -1.0f;
  m[14] = 2.0f * zfar * znear / (znear - zfar);
}

struct Spark {
  TKZ_Vectorf3 position;
  TKZ_Vectorf3 velocity;
  float lifetime;
};

// A spark somewhere in a ball of radius 15 round the origin, drifting at up to 1 unit per second
// (slowed by the drag, so it stays in view however long the benchmark runs).
Spark RandomSpark(float lifetime_min, float lifetime_span) {
  const float a = static_cast<float>(Random()) * 6.2831853f;
  const float b = static_cast<float>(Random()) * 2.0f - 1.0f;
  const float r = 15.0f * std::cbrt(static_cast<float>(Random()));
  const float s = std::sqrt(1.0f - b * b);
  const float v = static_cast<float>(Random());
  return {{s * std::cos(a) * r, b * r, s * std::sin(a) * r},
          {s * std::sin(a) * v, b * v, -s * std::cos(a) * v},
          lifetime_min + lifetime_span * static_cast<float>(Random())};
}

struct Show {
  TKZ_Context* ctx = nullptr;
  uint32_t deaths = 0;
  uint64_t late_steps = 0;
  void OnStep(PKZ_ParticleData p, TKZ_Context*) { late_steps += p->Age > 0.5f; }
  void OnRelease(PKZ_ParticleData, TKZ_Context*) { ++deaths; }
  void Emit(const Spark& s) {
    ctx->SetTemplateLifetime(s.lifetime);
    ctx->SetTemplateVelocity(s.velocity);
    ctx->EmitParticle(s.position);
  }
};

// The camera 100 units back: the depth order is measured from the point (0, 0, -100).
const TKZ_Vectorf3 kCameraPoint{0.0f, 0.0f, -100.0f};

void RunFrames(benchmark::State& state, bool churn, bool depth_sort = true) {
  const uint32_t count = static_cast<uint32_t>(state.range(0));
  FakeGL fake;
  fake.recording = false;
  FakeGL::SetIdentity(fake.modelview);
  fake.modelview[14] = -100.0f;
  Perspective(fake.projection, 45.0f, 4.0f / 3.0f, 1.0f, 1000.0f);
  InitContextFrustumModule();
  RandSeed(12345);
  {
    TKZ_Context ctx;
    Show show;
    show.ctx = &ctx;
    TKZ_AppearanceModel model;
    model.AddKeyframe(0.0f);
    model.SetColor(1.0f, 0.9f, 0.6f, 1.0f);
    model.SetSize(0.6f, 0.6f);
    model.AddKeyframe(0.3f);
    model.SetColor(1.0f, 0.4f, 0.1f, 0.8f);
    model.SetKeyframeInteger(1);
    model.AddKeyframe(1.0f);
    model.SetColor(0.3f, 0.0f, 0.0f, 0.0f);
    model.SetSize(0.2f, 0.2f);

    ctx.AddTexture(1, 4, 4);
    ctx.SetTexture(0);
    ctx.SetPhysicsMode(kzpmDrag);
    ctx.SetStorageMode(kzsVertexArray);
    if (depth_sort) ctx.Enable(kzcDepthSort);
    ctx.ReserveParticles(static_cast<int32_t>(count));
    ctx.SetTemplateAppearanceModel(&model);
    ctx.SetTemplateOnStep(TKZ_NotifyEvent::Bind<&Show::OnStep>(&show));
    ctx.SetTemplateOnRelease(TKZ_NotifyEvent::Bind<&Show::OnRelease>(&show));
    ctx.SetTemplateMass(1.0f);
    ctx.SetTemplateForce(0.0f, 0.0f, 0.0f);
    ctx.SetTemplateAirResistance(0.2f);
    ctx.SetTemplateSize(0.5f, 0.5f);

    // Emitted nearest first, so the first frame does not have to sort a shuffled chain.
    const float lifetime_min = churn ? 1.0f : 1000.0f;
    std::vector<Spark> sparks;
    sparks.reserve(count);
    for (uint32_t i = 0; i < count; ++i) sparks.push_back(RandomSpark(lifetime_min, 3.0f));
    std::sort(sparks.begin(), sparks.end(), [](const Spark& a, const Spark& b) {
      return KZ_LengthVectorf3(KZ_SubVectorf3(a.position, kCameraPoint)) <
             KZ_LengthVectorf3(KZ_SubVectorf3(b.position, kCameraPoint));
    });
    for (const Spark& s : sparks) show.Emit(s);

    const float dt = 1.0f / 60.0f;
    auto frame = [&] {
      show.deaths = 0;
      ctx.Process(dt);
      // What the hooks queued, added after the walk as the firework effect does.
      for (uint32_t i = 0; i < show.deaths; ++i) show.Emit(RandomSpark(lifetime_min, 3.0f));
    };
    // Into steady state: the storage has its size, the order its shape (with churn: slots reused).
    for (int i = 0; i < (churn ? 300 : 30); ++i) frame();

    const uint64_t allocations_before = allocation_count();
    uint64_t written = 0;
    uint64_t births = 0;
    for (auto _ : state) {
      frame();
      written += ctx.GetVertexArray().Count;
      births += show.deaths;
    }
    const uint64_t allocations = allocation_count() - allocations_before;
    const double frames = static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(count));
    // Seconds per particle per frame (printed with an SI prefix: "120n" is 120 ns).
    state.counters["per_particle"] = benchmark::Counter(frames * count, benchmark::Counter::kIsRate |
                                                                            benchmark::Counter::kInvert);
    state.counters["allocs_per_frame"] = static_cast<double>(allocations) / frames;
    state.counters["visible"] = static_cast<double>(written) / 4.0 / frames / count;
    if (churn) state.counters["births_per_frame"] = static_cast<double>(births) / frames;
  }
  DoneContextFrustumModule();
}

// Live particles, none dying while measured.
void BM_ProcessFrame(benchmark::State& state) { RunFrames(state, false); }
BENCHMARK(BM_ProcessFrame)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The same without the depth sort, to tell its share.
void BM_ProcessFrameUnsorted(benchmark::State& state) { RunFrames(state, false, false); }
BENCHMARK(BM_ProcessFrameUnsorted)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Particles living 1 to 4 seconds, each death replaced after the frame. A newborn enters at the
// tail and walks towards the head to its place, so the cost grows with births times the count.
void BM_ProcessFrameWithChurn(benchmark::State& state) { RunFrames(state, true); }
BENCHMARK(BM_ProcessFrameWithChurn)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
