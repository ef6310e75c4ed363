#include "show/firework_catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
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
