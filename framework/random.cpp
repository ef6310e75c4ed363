#include "framework/random.h"

#include <chrono>
#include <mutex>
#include <random>

namespace {
std::mutex g_mutex;
std::mt19937& generator() {
  static std::mt19937 g(5489u);
  return g;
}
}  // namespace

double Random() {
  std::lock_guard<std::mutex> lock(g_mutex);
  // 32 random bits over 2^32: always below 1.
  return static_cast<double>(generator()()) / 4294967296.0;
}

int32_t Random(int32_t range) {
  if (range <= 0) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  return static_cast<int32_t>((static_cast<uint64_t>(generator()()) * static_cast<uint64_t>(range)) >> 32);
}

void Randomize() {
  const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
  RandSeed(static_cast<uint32_t>(now ^ (now >> 32)));
}

void RandSeed(uint32_t seed) {
  std::lock_guard<std::mutex> lock(g_mutex);
  generator().seed(seed);
}
