// Add/Release churn on a 100 000-particle pool, and the vector routines the particle step uses.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "engine/particles.h"
#include "engine/vectors.h"

namespace {

constexpr int32_t kPoolSize = 100000;

// Releases one live particle from a slot picked at random over the whole pool and adds one (which
// takes that slot back, at the tail of the chain): one Release plus one Add per item.
void BM_PoolChurn(benchmark::State& state) {
  TKZ_LinkedList list;
  list.Reserve(kPoolSize);
  for (int32_t i = 0; i < kPoolSize; ++i) list.Add()->Data.Position = {static_cast<float>(i), 0, 0};
  uint32_t seed = 12345;
  for (auto _ : state) {
    seed = seed * 1664525u + 1013904223u;
    list.Release(list.Node(static_cast<int32_t>((seed >> 8) % kPoolSize)), nullptr);
    benchmark::DoNotOptimize(list.Add());
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["pool_slots"] = static_cast<double>(list.Items.size());
}
BENCHMARK(BM_PoolChurn);

// Emptying and refilling the whole pool: 100 000 releases and adds per iteration.
void BM_PoolDrainAndRefill(benchmark::State& state) {
  TKZ_LinkedList list;
  list.Reserve(kPoolSize);
  for (int32_t i = 0; i < kPoolSize; ++i) list.Add();
  for (auto _ : state) {
    while (list.First >= 0) list.Release(list.Head(), nullptr);
    for (int32_t i = 0; i < kPoolSize; ++i) benchmark::DoNotOptimize(list.Add());
  }
  state.SetItemsProcessed(state.iterations() * kPoolSize);
}
BENCHMARK(BM_PoolDrainAndRefill);

std::vector<TKZ_Vectorf3> Points(size_t n) {
  std::vector<TKZ_Vectorf3> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = {static_cast<float>(i % 17) - 8, static_cast<float>(i % 5) + 1, 0.5f};
  return v;
}

void BM_NormalizeVectorf3(benchmark::State& state) {
  const auto pts = Points(1024);
  for (auto _ : state) {
    for (const auto& p : pts) benchmark::DoNotOptimize(KZ_NormalizeVectorf3(p));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(pts.size()));
}
BENCHMARK(BM_NormalizeVectorf3);

void BM_CrossAndTransformVectorf3(benchmark::State& state) {
  const auto pts = Points(1024);
  const TKZ_Matrixf3 m{{0.8f, 0.6f, 0}, {-0.6f, 0.8f, 0}, {0, 0, 1}};
  for (auto _ : state) {
    for (const auto& p : pts) benchmark::DoNotOptimize(KZ_TransformVectorf3(KZ_CrossVectorf3(p, m.Col2), m));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(pts.size()));
}
BENCHMARK(BM_CrossAndTransformVectorf3);

void BM_RotateVectorf3Z(benchmark::State& state) {
  const auto pts = Points(1024);
  float angle = 0.0f;
  for (auto _ : state) {
    for (const auto& p : pts) benchmark::DoNotOptimize(KZ_RotateVectorf3Z(p, angle += 0.001f));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(pts.size()));
}
BENCHMARK(BM_RotateVectorf3Z);

void BM_InvertMatrixf3(benchmark::State& state) {
  TKZ_Matrixf3 m{{2, 1, 0}, {-1, 3, 1}, {0.5f, 0, 4}};
  for (auto _ : state) {
    KZ_InvertMatrixf3(m);
    benchmark::DoNotOptimize(m);
  }
}
BENCHMARK(BM_InvertMatrixf3);

void BM_InvertMatrixf4(benchmark::State& state) {
  TKZ_Matrixf4 m{{0.8f, 0.6f, 0, 0}, {-0.6f, 0.8f, 0, 0}, {0, 0, 2, 0}, {5, -3, 10, 1}};
  for (auto _ : state) {
    KZ_InvertMatrixf4(m);
    benchmark::DoNotOptimize(m);
  }
}
BENCHMARK(BM_InvertMatrixf4);

}  // namespace

BENCHMARK_MAIN();
