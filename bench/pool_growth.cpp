// Growing a particle pool from empty: 100 000 particles emitted one at a time into a fresh context
// (the pool grows by its GrowthStep whenever its free stack is empty), against pushing the same
// records one at a time onto a plain std::vector. Compare the two per-item figures: the pool must
// stay within a small constant factor of the vector, whatever the count (no quadratic growth).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/context.h"
#include "tests/support/fake_gl.h"

namespace {

constexpr int64_t kDefaultCount = 100000;

TKZ_ParticleData TemplateRecord() {
  TKZ_ParticleData p;
  p.Size = {0.2f, 0.2f};
  p.Color = {1.0f, 0.5f, 0.25f, 1.0f};
  p.Mass = 1.0f;
  p.LifeTime = 2.0f;
  return p;
}

void BM_EmitIntoEmptyContext(benchmark::State& state) {
  FakeGL fake;
  fake.recording = false;
  const int64_t n = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto context = std::make_unique<TKZ_Context>();
    context->SetTemplateSize(0.2f, 0.2f);
    context->SetTemplateColor(1.0f, 0.5f, 0.25f, 1.0f);
    context->SetTemplateLifetime(2.0f);
    state.ResumeTiming();
    for (int64_t i = 0; i < n; ++i) context->EmitParticle(static_cast<float>(i), 0.0f, 0.0f);
    benchmark::DoNotOptimize(context->GetParticleCount());
    // The context goes with its pool outside the timed part.
    state.PauseTiming();
    context.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_EmitIntoEmptyContext)->Arg(kDefaultCount)->Arg(4 * kDefaultCount)->Unit(benchmark::kMillisecond);

// The same records, copied from a template and placed, pushed onto a vector.
void BM_PushOntoVector(benchmark::State& state) {
  const TKZ_ParticleData record = TemplateRecord();
  const int64_t n = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<TKZ_ParticleData> v;
    state.ResumeTiming();
    for (int64_t i = 0; i < n; ++i) {
      v.push_back(record);
      v.back().Position = {static_cast<float>(i), 0.0f, 0.0f};
      v.back().OldPosition = v.back().Position;
    }
    benchmark::DoNotOptimize(v.data());
    state.PauseTiming();
    v = {};
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_PushOntoVector)->Arg(kDefaultCount)->Arg(4 * kDefaultCount)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
