#include "show/firework_catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/context.h"
#include "framework/random.h"
#include "show/firework.h"
#include "tests/support/fake_gl.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kPi = 3.14159265358979323846;

// Calls `visit` for every ammo node below `node`, the node included, with a path for messages.
void Walk(const TkzFireworkAmmoParticleNode& node, const std::string& path,
          const std::function<void(const TkzFireworkAmmoParticleNode&, const std::string&)>& visit) {
  visit(node, path);
  if (node.TrailSpawn().Ammo()) Walk(*node.TrailSpawn().Ammo(), path + ".trail", visit);
  if (node.DestructionSpawn().Ammo()) Walk(*node.DestructionSpawn().Ammo(), path + ".burst", visit);
}

void CheckSpawn(const TkzFireworkAmmoParticleSpawn& spawn, const TkzFirework& firework, const std::string& path) {
  EXPECT_GE(spawn.MaxCount, spawn.MinCount) << path;
  EXPECT_GE(spawn.MinCount, 0) << path;
  if (spawn.MaxCount > 0) {
    EXPECT_NE(spawn.Ammo(), nullptr) << path;
  }
  EXPECT_EQ(spawn.Firework(), &firework) << path;
}

void CheckModel(const TKZ_AppearanceModel& model, const std::string& path) {
  ASSERT_GE(model.KeyframeCount, 2u) << path;
  EXPECT_EQ(model.Keyframes.front().Time, 0.0f) << path;
  EXPECT_EQ(model.Keyframes.back().Time, 1.0f) << path;
  for (size_t i = 1; i < model.Keyframes.size(); ++i)
    EXPECT_LT(model.Keyframes[i - 1].Time, model.Keyframes[i].Time) << path << " keyframe " << i;
  for (const TKZ_AppearanceHook& key : model.Keyframes) EXPECT_LE(key.TextureCell, 8u) << path;
}

class CatalogueTest : public ::testing::Test {
 protected:
  void Build(bool smoke) {
    RandSeed(11);
    BuildFireworkCatalogue(firework, smoke, spares);
  }

  const TkzFireworkAmmoParticleNode& Burst(size_t kind) const {
    return *firework.AmmoNodes()[kind]->DestructionSpawn().Ammo();
  }
  const TkzFireworkAmmoParticleNode& Spark(size_t kind) const { return *firework.AmmoNodes()[kind]->TrailSpawn().Ammo(); }

  FakeGL fake;
  TkzFirework firework;
  AppearanceModelList spares;
};

// ---- The catalogue's tables, written out as the catalogue gives them ----

// A keyframe: time, colour (red, green, blue, alpha), size (width = height), cell; a size or cell of
// -1 keeps the value of the keyframe before.
struct Key {
  float time;
  TKZ_Vectorf4 colour;
  float size = -1;
  int cell = -1;
};

struct Kind;
using KindPtr = std::shared_ptr<Kind>;

// counts, angle (first number first), speed, ammo; the defaults add nothing.
struct Rule {
  int min_count = 0, max_count = 0;
  double min_angle = 0, max_angle = 0, min_speed = 0, max_speed = 0;
  KindPtr ammo;
};

struct Kind {
  double min_life = 0, max_life = 0, mass = 0;
  TKZ_Vectorf3 force{0, 0, 0};
  double air = 0;
  std::vector<Key> keys;
  double trail_step = 1.0;
  Rule trail, burst;
  bool drifts = false;  // force x and z drawn at random in -0.001..0.001
};

KindPtr MakeKind(double min_life, double max_life, std::vector<Key> keys) {
  auto kind = std::make_shared<Kind>();
  kind->min_life = min_life;
  kind->max_life = max_life;
  kind->keys = std::move(keys);
  return kind;
}

using Rgba = TKZ_Vectorf4;
Rgba Scaled(const Rgba& k, float f, float alpha) { return {f * k[0], f * k[1], f * k[2], alpha}; }

KindPtr SmokePuff() {
  KindPtr puff = MakeKind(8, 10, {{0, {0.1f, 0.1f, 0.1f, 0}, 0, 0}, {0.1f, {0.1f, 0.1f, 0.1f, 0.1f}, 0.4f},
                                  {0.9f, {0.1f, 0.1f, 0.1f, 0}, 3.6f}, {1, {0.1f, 0.1f, 0.1f, 0}, 4}});
  puff->mass = 0.1;
  puff->drifts = true;
  return puff;
}

KindPtr Spark(bool smoke) {
  KindPtr spark = MakeKind(0.05, 0.1, {{0, {1, 0.8f, 0, 0.2f}, 0.1f, 1}, {0.8f, {1, 0.8f, 0.15f, 0.2f}},
                                       {1, {1, 0.8f, 0.3f, 0}, 0.2f}});
  spark->mass = 0.4;
  if (smoke) spark->burst = {0, 1, 0, 0, 0, 0, SmokePuff()};
  return spark;
}

KindPtr StarTrailSpark(int n, const Rgba& k) {
  const Rgba p{0.1f * k[0] + 0.9f, 0.1f * k[1] + 0.9f, 0.1f * k[2] + 0.9f, 0};
  return MakeKind(0.2, 0.2, {{0, p, 0.125f, n}, {0.2f, {p[0], p[1], p[2], 0.2f}, 0.2f}, {1, p, 0.15f}});
}

KindPtr GoldStar() {
  KindPtr star = MakeKind(0.8, 1, {{0, {1, 0.8f, 0, 1}, 0.25f, 4}, {0.8f, {1, 1, 1, 1}}, {1, {1, 1, 1, 0}, 0.4f}});
  star->mass = 0.4;
  star->force = {0, -0.981f, 0};
  KindPtr flash = MakeKind(0.09, 0.11, {{0, {1, 1, 1, 0.3f}, 0.3f, 5}, {0.5f, {1, 1, 1, 0.6f}}, {1, {1, 1, 1, 0}}});
  KindPtr glitter = MakeKind(1.3, 1.5, {{0, {1, 0.8f, 0, 0}, 0.1f, 5}, {0.5f, {0.95f, 0.7f, 0, 0.5f}, 0.15f},
                                        {1, {0.9f, 0.6f, 0, 0.25f}, 0.2f}});
  glitter->burst = {1, 2, 0, 0, 0, 0, flash};
  star->trail_step = 0.02;
  star->trail = {1, 1, 0, 2, 0, 0.1, glitter};
  return star;
}

// Ring: drag 2, plain start (peak factor 1); Sphere: drag 1, dimmed start 0.8 (peak factor 0.9).
KindPtr ColouredStar(const Rgba& k, double drag, float start, float peak, int n) {
  KindPtr star = MakeKind(0.6, 0.6, {{0, Scaled(k, start, 0), 0.25f, 5}, {0.2f, Scaled(k, peak, k[3]), 0.4f},
                                     {0.8f, k, 0.3f}, {1, Scaled(k, 1, 0), 0.15f}});
  star->force = {0, -3, 0};
  star->air = drag;
  star->trail_step = 0.025;
  star->trail = {1, 1, 0, 0, 0, 0.1, StarTrailSpark(n, k)};
  return star;
}

KindPtr BloomPuff(const Rgba& k) {
  KindPtr puff = MakeKind(0.6, 0.6, {{0, Scaled(k, 0.8f, 0), 0.2f, 0}, {0.2f, k, 0.6f},
                                     {0.8f, Scaled(k, 0.9f, 0.75f * k[3]), 0.9f}, {1, Scaled(k, 0.75f, 0), 1}});
  puff->air = 4;
  return puff;
}

const Rgba kRainbowCycle[9] = {{1, 0.2f, 0.2f, 1}, {1, 1, 0.2f, 1},    {0.2f, 1, 0.2f, 1},
                               {0.2f, 1, 1, 1},    {0.2f, 0.2f, 1, 1}, {1, 0.2f, 1, 1},
                               {1, 0.2f, 0.2f, 1}, {1, 1, 0.2f, 1},    {0.2f, 1, 0.2f, 1}};

KindPtr RainbowStar() {
  KindPtr spark = MakeKind(0.2, 0.2, {{0, {1, 1, 1, 0}, 0.1f, 2}});
  const float spark_sizes[9] = {0.2f, 0.195f, 0.19f, 0.185f, 0.18f, 0.175f, 0.17f, 0.165f, 0.16f};
  KindPtr star = MakeKind(0.6, 0.6, {{0, {1, 1, 1, 0}, 0.1f, 5}});
  for (int k = 1; k <= 9; ++k) {
    const Rgba c = kRainbowCycle[k - 1];
    star->keys.push_back({k / 10.0f, c, 0.4f});
    spark->keys.push_back({k / 10.0f, {c[0], c[1], c[2], 0.2f}, spark_sizes[k - 1]});
  }
  star->keys.push_back({1, {1, 1, 1, 0}, 0.1f});
  spark->keys.push_back({1, {1, 1, 1, 0}, 0.155f});
  star->force = {0, -3, 0};
  star->air = 1;
  star->trail_step = 0.025;
  star->trail = {1, 1, 0, 0, 0, 0.1, spark};
  return star;
}

enum Family { kGlitter, kRing, kSphere, kCone, kBloom, kRainbow };
struct LaunchRow {
  Family family;
  int n;
  Rgba k;
};
const Rgba kRed{1, 0.2f, 0.2f, 0.7f}, kYellow{1, 0.8f, 0.2f, 0.7f}, kGreen{0.2f, 1, 0.2f, 0.7f},
    kBlue{0.2f, 0.2f, 1, 0.7f}, kGold{1, 0.8f, 0.3f, 0.7f};
const LaunchRow kLaunchTable[18] = {
    {kGlitter, 0, {}},      {kRing, 3, kRed},    {kRing, 8, kYellow},   {kRing, 7, kGreen},   {kRing, 6, kBlue},
    {kSphere, 3, kRed},     {kSphere, 8, kYellow}, {kSphere, 7, kGreen}, {kSphere, 6, kBlue}, {kCone, 3, kRed},
    {kCone, 8, kYellow},    {kCone, 7, kGreen},  {kCone, 6, kBlue},     {kBloom, 0, kGold},   {kBloom, 0, kRed},
    {kBloom, 0, kGreen},    {kBloom, 0, kBlue},  {kRainbow, 0, {}}};

KindPtr LaunchKind(int index, bool smoke) {
  const LaunchRow& row = kLaunchTable[index];
  KindPtr rocket = MakeKind(0.5, 0.5, {{0, {1, 0.8f, 0, 1}, 0.25f, 5}, {1, {1, 0.8f, 0.3f, 1}, 0.4f}});
  if (index == 0) rocket->mass = 0.4;
  rocket->trail_step = 0.02;
  rocket->trail = {1, 2, 0, 0.15, -0.6, -0.5, Spark(smoke)};
  switch (row.family) {
    case kGlitter: rocket->burst = {5, 10, 2, 0, 1, 2, GoldStar()}; break;
    case kRing: rocket->burst = {10, 15, 0.55, 0.45, 7, 8, ColouredStar(row.k, 2, 1, 1, row.n)}; break;
    case kSphere: rocket->burst = {7, 10, 2.0, 0, 5, 6, ColouredStar(row.k, 1, 0.8f, 0.9f, row.n)}; break;
    case kCone: rocket->burst = {7, 10, 0.25, 0, 5, 6, ColouredStar(row.k, 1, 0.8f, 0.9f, row.n)}; break;
    case kBloom: rocket->burst = {10, 15, 2, 0, 1, 2, BloomPuff(row.k)}; break;
    case kRainbow: rocket->burst = {7, 10, 2, 0, 5, 6, RainbowStar()}; break;
  }
  return rocket;
}

KindPtr FountainDrop(const Rgba& k) {
  KindPtr drop = MakeKind(1, 2, {{0, Scaled(k, 1, 0), 0.2f, 5}});
  for (int i = 1; i <= 9; ++i) drop->keys.push_back({i / 10.0f, i % 2 == 1 ? Scaled(k, 0.9f, 0.3f * k[3]) : k, 0.2f});
  drop->keys.push_back({1, Scaled(k, 1, 0), 0});
  drop->force = {0, -9.81f, 0};
  return drop;
}
const Rgba kSetupTable[4] = {{0.8f, 0.9f, 1, 1}, {0.8f, 1, 0.9f, 1}, {1, 0.8f, 0.8f, 1}, {1, 0.8f, 0.5f, 1}};

void ExpectModel(const std::vector<Key>& keys, const TKZ_AppearanceModel& model, const std::string& path) {
  ASSERT_EQ(model.Keyframes.size(), keys.size()) << path;
  EXPECT_EQ(model.KeyframeCount, keys.size()) << path;
  float size = 0;
  int cell = 0;
  for (size_t i = 0; i < keys.size(); ++i) {
    const TKZ_AppearanceHook& got = model.Keyframes[i];
    if (keys[i].size >= 0) size = keys[i].size;
    if (keys[i].cell >= 0) cell = keys[i].cell;
    const std::string at = path + " keyframe " + std::to_string(i);
    EXPECT_FLOAT_EQ(got.Time, keys[i].time) << at;
    for (int c = 0; c < 4; ++c) EXPECT_FLOAT_EQ(got.Color[c], keys[i].colour[c]) << at << " colour " << c;
    EXPECT_FLOAT_EQ(got.Size[0], size) << at;
    EXPECT_FLOAT_EQ(got.Size[1], size) << at;
    EXPECT_EQ(got.TextureCell, static_cast<uint32_t>(cell)) << at;
  }
}

void ExpectKind(const Kind& want, const TkzFireworkAmmoParticleNode& got, const std::string& path);

void ExpectRule(const Rule& want, const TkzFireworkAmmoParticleSpawn& got, const std::string& path) {
  EXPECT_EQ(got.MinCount, want.min_count) << path;
  EXPECT_EQ(got.MaxCount, want.max_count) << path;
  EXPECT_DOUBLE_EQ(got.MinAngle, want.min_angle) << path;
  EXPECT_DOUBLE_EQ(got.MaxAngle, want.max_angle) << path;
  EXPECT_DOUBLE_EQ(got.MinSpeed, want.min_speed) << path;
  EXPECT_DOUBLE_EQ(got.MaxSpeed, want.max_speed) << path;
  if (!want.ammo) {
    EXPECT_EQ(got.Ammo(), nullptr) << path;
    return;
  }
  ASSERT_NE(got.Ammo(), nullptr) << path;
  ExpectKind(*want.ammo, *got.Ammo(), path);
}

void ExpectKind(const Kind& want, const TkzFireworkAmmoParticleNode& got, const std::string& path) {
  EXPECT_DOUBLE_EQ(got.MinLifeTime, want.min_life) << path;
  EXPECT_DOUBLE_EQ(got.MaxLifeTime, want.max_life) << path;
  EXPECT_DOUBLE_EQ(got.Mass, want.mass) << path;
  EXPECT_DOUBLE_EQ(got.AirResistance, want.air) << path;
  EXPECT_DOUBLE_EQ(got.TrailStepSize, want.trail_step) << path;
  if (want.drifts) {
    EXPECT_LE(std::fabs(got.Force[0]), 0.001f) << path;
    EXPECT_EQ(got.Force[1], 0.0f) << path;
    EXPECT_LE(std::fabs(got.Force[2]), 0.001f) << path;
  } else {
    for (int c = 0; c < 3; ++c) EXPECT_FLOAT_EQ(got.Force[c], want.force[c]) << path << " force " << c;
  }
  ExpectModel(want.keys, got.ParticleAppearance(), path);
  ExpectRule(want.trail, got.TrailSpawn(), path + ".trail");
  ExpectRule(want.burst, got.DestructionSpawn(), path + ".burst");
}

}  // namespace

TEST_F(CatalogueTest, EveryKindKeepsTheLimitsOfTheEffect) {
  Build(true);
  ASSERT_EQ(firework.AmmoNodes().size(), static_cast<size_t>(kFireworkLaunchKinds));
  ASSERT_EQ(firework.SpawnerNodes().size(), static_cast<size_t>(kFireworkSetupKinds));

  auto check_node = [&](const TkzFireworkAmmoParticleNode& node, const std::string& path) {
    EXPECT_GT(node.TrailStepSize, 0.0) << path;
    EXPECT_GT(node.MinLifeTime, 0.0) << path;
    EXPECT_LE(node.MinLifeTime, node.MaxLifeTime) << path;
    EXPECT_EQ(node.Firework(), &firework) << path;
    CheckSpawn(node.TrailSpawn(), firework, path + " trail");
    CheckSpawn(node.DestructionSpawn(), firework, path + " burst");
    CheckModel(node.ParticleAppearance(), path);
  };
  for (size_t kind = 0; kind < firework.AmmoNodes().size(); ++kind)
    Walk(*firework.AmmoNodes()[kind], "launch " + std::to_string(kind), check_node);
  for (size_t kind = 0; kind < firework.SpawnerNodes().size(); ++kind) {
    const TkzFireworkAmmoSpawnerNode& spawner = *firework.SpawnerNodes()[kind];
    const std::string path = "setup " + std::to_string(kind);
    EXPECT_GT(spawner.SpawnDelay, 0.0) << path;
    CheckSpawn(spawner.Spawn(), firework, path);
    Walk(*spawner.Spawn().Ammo(), path, check_node);
  }
  ASSERT_EQ(spares.size(), 2u);
  for (const auto& model : spares) CheckModel(*model, "spare");
}

TEST_F(CatalogueTest, RocketMassAndSmoke) {
  Build(false);
  for (int32_t kind = 0; kind < kFireworkLaunchKinds; ++kind) {
    firework.Launch(kind, {0, 0, 0}, {0, 10, 0}, kNaN);
    EXPECT_EQ(firework.Context().GetParticles().Tail()->Data.Mass, kind == 0 ? 0.4f : 1.0f) << kind;
    EXPECT_EQ(Spark(kind).DestructionSpawn().MaxCount, 0) << kind;  // no smoke: a spark leaves nothing
  }

  // With smoke, two draws per launch kind fix each kind's puff drift, in kind order.
  TkzFirework smoky;
  RandSeed(5);
  BuildFireworkKinds(smoky, true);
  const double next = Random();
  RandSeed(5);
  std::vector<double> draws;
  for (int i = 0; i < 2 * kFireworkLaunchKinds; ++i) draws.push_back(Random());
  EXPECT_EQ(Random(), next);
  for (int32_t kind = 0; kind < kFireworkLaunchKinds; ++kind) {
    const TkzFireworkAmmoParticleSpawn& dies = smoky.AmmoNodes()[kind]->TrailSpawn().Ammo()->DestructionSpawn();
    EXPECT_EQ(dies.MinCount, 0);
    EXPECT_EQ(dies.MaxCount, 1);
    const TKZ_Vectorf3& drift = dies.Ammo()->Force;
    EXPECT_EQ(drift[0], static_cast<float>((2 * draws[2 * kind] - 1) / 1000)) << kind;
    EXPECT_EQ(drift[1], 0.0f);
    EXPECT_EQ(drift[2], static_cast<float>((2 * draws[2 * kind + 1] - 1) / 1000)) << kind;
  }
}

TEST_F(CatalogueTest, RingBurstsLieInABandAcrossTheFlight) {
  Build(false);
  for (int32_t kind = 1; kind <= 4; ++kind) {
    TKZ_ParticleData rocket;
    rocket.Position = {0, 5, 0};
    rocket.Velocity = {0, 10, 0};
    for (int burst = 0; burst < 20; ++burst)
      firework.AmmoNodes()[kind]->DestructionSpawn().SpawnFrom(&rocket, false);
    ASSERT_GE(firework.ActionCache().size(), 200u);
    for (const auto& action : firework.ActionCache()) {
      const auto& star = dynamic_cast<const TkzFireworkAddParticle&>(*action);
      const float speed = KZ_LengthVectorf3(star.Velocity);
      const double turn = std::acos(star.Velocity[1] / speed) / kPi;
      EXPECT_GE(turn, 0.45 - 1e-6) << kind;
      EXPECT_LE(turn, 0.55 + 1e-6) << kind;
    }
    firework.FlushActions();
    firework.ClearParticles();
  }
}

// The whole show for five simulated seconds: every kind launched and set up once, 0.01 s frames,
// drawn through the recording GL.
TEST_F(CatalogueTest, AWholeShowEndsClean) {
  Build(false);
  TKZ_Context& context = firework.Context();
  context.AddTexture(1, 4, 4);
  context.SetTexture(0);
  context.SetPhysicsMode(kzpmDrag);
  context.ReserveParticles(1500);
  context.Enable(kzcDepthSort);
  firework.SetStorageMode(kzsVertexArray);
  FakeGL::SetIdentity(fake.modelview);
  fake.modelview[14] = -5;  // the camera five units back
  fake.recording = false;

  for (int32_t kind = 0; kind < kFireworkLaunchKinds; ++kind)
    firework.Launch(kind, {static_cast<float>(kind - 9), 0, 0}, {0, 10, 0}, kNaN);
  for (int32_t kind = 0; kind < kFireworkSetupKinds; ++kind) firework.Setup(kind, {0, 1, 0}, 1.0);

  std::vector<uint32_t> most_children(kFireworkLaunchKinds, 0);
  std::vector<uint32_t> most_drops(kFireworkSetupKinds, 0);
  for (int frame = 0; frame < 500; ++frame) {
    firework.Update(0.01f);
    firework.Render(true);
    ASSERT_TRUE(firework.ActionCache().empty());
    for (int32_t kind = 0; kind < kFireworkLaunchKinds; ++kind)
      most_children[kind] = std::max(most_children[kind], Burst(kind).ParticleAppearance().RefCount);
    for (int32_t kind = 0; kind < kFireworkSetupKinds; ++kind)
      most_drops[kind] =
          std::max(most_drops[kind], firework.SpawnerNodes()[kind]->Spawn().Ammo()->ParticleAppearance().RefCount);
  }

  // Every rocket burst (a burst's children are added together) and every fountain threw drops.
  for (int32_t kind = 0; kind < kFireworkLaunchKinds; ++kind)
    EXPECT_GE(static_cast<int32_t>(most_children[kind]), firework.AmmoNodes()[kind]->DestructionSpawn().MinCount);
  for (int32_t kind = 0; kind < kFireworkSetupKinds; ++kind) EXPECT_GE(most_drops[kind], 4u) << kind;

  // Every particle ended through its release hook; the pool holds all its slots again.
  EXPECT_EQ(context.GetParticleCount(), 0u);
  TKZ_LinkedList& pool = context.GetParticles();
  EXPECT_EQ(pool.FreeCount, pool.Items.size());
  for (const TKZ_ListNode& slot : pool.Items) EXPECT_EQ(slot.Data.UserData, nullptr);
  for (const auto& rocket : firework.AmmoNodes())
    Walk(*rocket, "", [](const TkzFireworkAmmoParticleNode& node, const std::string&) {
      EXPECT_EQ(node.ParticleAppearance().RefCount, 0u);
    });
  EXPECT_EQ(firework.SpawnerAppearance().RefCount, 0u);
}

TEST_F(CatalogueTest, EveryValueMatchesTheCatalogueTables) {
  for (bool smoke : {false, true}) {
    TkzFirework built;
    AppearanceModelList models;
    BuildFireworkCatalogue(built, smoke, models);
    const std::string with = smoke ? " (smoke)" : "";
    EXPECT_EQ(built.SpawnDelay, 0.75);
    EXPECT_EQ(built.PlaneWidth, 6);
    EXPECT_EQ(built.PlaneDepth, 6);
    ASSERT_EQ(built.AmmoNodes().size(), 18u);
    for (int kind = 0; kind < 18; ++kind)
      ExpectKind(*LaunchKind(kind, smoke), *built.AmmoNodes()[kind], "launch " + std::to_string(kind) + with);
    ASSERT_EQ(built.SpawnerNodes().size(), 4u);
    for (int kind = 0; kind < 4; ++kind) {
      const TkzFireworkAmmoSpawnerNode& fountain = *built.SpawnerNodes()[kind];
      const std::string path = "setup " + std::to_string(kind) + with;
      EXPECT_DOUBLE_EQ(fountain.SpawnDelay, 0.1) << path;
      EXPECT_EQ(fountain.Direction, (TKZ_Vectorf3{0, 1, 0})) << path;
      ExpectRule({4, 6, 0, 0.1, 6, 8, FountainDrop(kSetupTable[kind])}, fountain.Spawn(), path);
    }
    ASSERT_EQ(models.size(), 2u);
    ExpectModel({{0, {0.5f, 0.6f, 0.7f, 0}, 0.25f, 0},
                 {0.1f, {0.5f, 0.6f, 0.7f, 0.4f}},
                 {0.25f, {0.8f, 0.8f, 0.2f, 0.4f}},
                 {0.5f, {0.8f, 0.5f, 0.1f, 0.4f}},
                 {1, {0.8f, 0, 0, 0}}},
                *models[0], "spare one");
    ExpectModel({{0, {0.5f, 0.5f, 0.5f, 0}, 0.25f, 0}, {0.5f, {0.5f, 0.5f, 0.5f, 1}, 1.125f},
                 {1, {0.5f, 0.5f, 0.5f, 0}, 2}},
                *models[1], "spare two");
  }
}
