#include "show/firework.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/context.h"
#include "framework/random.h"
#include "tests/support/fake_gl.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kPi = 3.14159265358979323846;

class FireworkTest : public ::testing::Test {
 protected:
  void SetUp() override { RandSeed(7); }

  // counts min..max, angle a..b, speed s..t.
  static void Rule(TkzFireworkAmmoParticleSpawn& spawn, int32_t min, int32_t max, double a, double b, double s,
                   double t) {
    spawn.MinCount = min;
    spawn.MaxCount = max;
    spawn.MinAngle = a;
    spawn.MaxAngle = b;
    spawn.MinSpeed = s;
    spawn.MaxSpeed = t;
    // Kept once set: queued children still point at it.
    if (!spawn.Ammo()) spawn.SetAmmo(std::make_unique<TkzFireworkAmmoParticleNode>());
  }

  std::vector<const TkzFireworkAddParticle*> Queued() const {
    std::vector<const TkzFireworkAddParticle*> added;
    for (const auto& action : firework.ActionCache())
      added.push_back(dynamic_cast<const TkzFireworkAddParticle*>(action.get()));
    return added;
  }

  // A kind that leaves one child every 0.25 along its path.
  TkzFireworkAmmoParticleNode* TrailNode() {
    TkzFireworkAmmoParticleNode* node = firework.AddAmmoNode();
    node->TrailStepSize = 0.25;
    Rule(node->TrailSpawn(), 1, 1, 0, 0, 0, 0);
    return node;
  }

  static double Accumulator(const TKZ_ParticleData& p) { return *static_cast<const double*>(p.UserData); }

  FakeGL fake;
  TkzFirework firework;
};

}  // namespace

TEST_F(FireworkTest, SpawnCountsAndParentsAtRest) {
  TkzFireworkAmmoParticleSpawn& spawn = firework.AddAmmoNode()->TrailSpawn();
  TKZ_ParticleData parent;
  parent.Position = {1, 2, 3};
  parent.Velocity = {0, 5, 0};
  spawn.SpawnFrom(&parent, false);  // counts 0..0 and no kind: nothing
  EXPECT_TRUE(firework.ActionCache().empty());

  // Without speed, or from a parent at rest, the children start at rest where the parent is.
  Rule(spawn, 3, 3, 0, 1, 0, 0);
  spawn.SpawnFrom(&parent, false);
  Rule(spawn, 2, 2, 0, 1, 1, 2);
  parent.Velocity = {0, 0, 0};
  spawn.SpawnFrom(&parent, false);
  ASSERT_EQ(Queued().size(), 5u);
  for (const TkzFireworkAddParticle* child : Queued()) {
    EXPECT_EQ(child->Position, (TKZ_Vectorf3{1, 2, 3}));
    EXPECT_EQ(child->Velocity, (TKZ_Vectorf3{0, 0, 0}));
    EXPECT_TRUE(std::isnan(child->LifeTime));
  }
  EXPECT_EQ(firework.Context().GetParticleCount(), 0u);
}

TEST_F(FireworkTest, SpreadAroundTheParentsDirection) {
  TkzFireworkAmmoParticleSpawn& spawn = firework.AddAmmoNode()->TrailSpawn();
  TKZ_ParticleData parent;
  // Along x the rotation axis is zero: dir is only scaled by cos(a pi), and the turn about x keeps it.
  Rule(spawn, 4, 4, 0.25, 0.25, 2, 2);
  parent.Velocity = {3, 0, 0};
  spawn.SpawnFrom(&parent, false);
  for (const TkzFireworkAddParticle* child : Queued()) {
    EXPECT_NEAR(child->Velocity[0], 2 * std::cos(0.25 * kPi), 1e-6);
    EXPECT_EQ(child->Velocity[1], 0.0f);
    EXPECT_EQ(child->Velocity[2], 0.0f);
  }
  // About a diagonal axis the last term is k o v o k, not k (k . v): turning (1, 0, 0) by a half turn
  // about (1, 1, 0)/sqrt 2 gives (0, 0, 0), not (0, 1, 0).
  const float h = static_cast<float>(std::sqrt(0.5));
  const TKZ_Vectorf3 r = KZ_RotateVectorf3({h, h, 0}, {1, 0, 0}, kPi);
  EXPECT_NEAR(KZ_LengthVectorf3(r), 0, 1e-6);
}

TEST_F(FireworkTest, TrailStepsCarryTheRestOfThePath) {
  TkzFireworkAmmoParticleNode* node = TrailNode();
  TKZ_ParticleData p;
  p.OldPosition = {0, 0, 0};
  p.Position = {0, 0.625f, 0};  // 2.5 steps in one step
  node->AmmoParticleStep(&p, &firework.Context());
  ASSERT_EQ(Queued().size(), 2u);
  // Behind the previous position, at 0.4 and 0.8 of the step's path.
  EXPECT_NEAR(Queued()[0]->Position[1], -0.25, 1e-6);
  EXPECT_NEAR(Queued()[1]->Position[1], -0.5, 1e-6);
  EXPECT_DOUBLE_EQ(Accumulator(p), 0.125);
  EXPECT_EQ(p.Position, (TKZ_Vectorf3{0, 0.625f, 0}));  // put back

  // Half a step more completes the carried half.
  p.OldPosition = p.Position;
  p.Position = {0, 0.75f, 0};
  node->AmmoParticleStep(&p, &firework.Context());
  EXPECT_EQ(Queued().size(), 3u);

  // A step size not above 0 spawns no trail rather than looping for ever.
  node->TrailStepSize = 0;
  node->AmmoParticleStep(&p, &firework.Context());
  EXPECT_EQ(Queued().size(), 3u);
  node->AmmoParticleRelease(&p, &firework.Context());
  EXPECT_EQ(p.UserData, nullptr);
}

TEST_F(FireworkTest, VeryLongPathsAndVeryManyParticlesStayBounded) {
  TkzFireworkAmmoParticleNode* node = TrailNode();
  TKZ_ParticleData p;
  // 4000.5 step sizes in one step: the most children, spread evenly over the 4000 steps' stretch.
  p.OldPosition = {0, 0, 0};
  p.Position = {0, 1000.125f, 0};
  node->AmmoParticleStep(&p, &firework.Context());
  const auto most = static_cast<size_t>(TkzFirework::kMostTrailSpawnsPerStep);
  ASSERT_EQ(Queued().size(), most);
  EXPECT_NEAR(Queued()[0]->Position[1], -1.0, 1e-3);
  EXPECT_NEAR(Queued()[most - 1]->Position[1], -1000.0, 1e-2);
  EXPECT_DOUBLE_EQ(Accumulator(p), 0.125);
  // A path without end (a particle thrown to infinity) or not a number spawns nothing along it and
  // leaves nothing to carry.
  for (const float bad : {std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()}) {
    p.OldPosition = {0, 0, 0};
    p.Position = {bad, 0, 0};
    node->AmmoParticleStep(&p, &firework.Context());
    EXPECT_EQ(Queued().size(), most) << bad;
    EXPECT_EQ(Accumulator(p), 0.0) << bad;
  }
  node->AmmoParticleRelease(&p, &firework.Context());

  // Particles beyond the most, alive and queued together, are dropped, immediate, queued or fountains.
  firework.FlushActions();
  const TKZ_Vectorf3 at{0, 0, 0};
  while (firework.Context().GetParticleCount() + firework.ActionCache().size() < TkzFirework::kMostParticles)
    firework.AddParticle(node, at, at, firework.ActionCache().size() % 2 == 0, 1.0);
  firework.AddParticle(node, at, at, false, 1.0);
  firework.AddParticle(node, at, at, true, 1.0);
  firework.AddSpawnerNode();
  firework.Setup(0, at, 1.0);
  EXPECT_EQ(firework.Context().GetParticleCount() + firework.ActionCache().size(), TkzFirework::kMostParticles);
  // A full effect spawns no trail, and the path still counts as used.
  TKZ_ParticleData q;
  q.OldPosition = {0, 0, 0};
  q.Position = {0, 0.625f, 0};
  node->AmmoParticleStep(&q, &firework.Context());
  EXPECT_EQ(firework.Context().GetParticleCount() + firework.ActionCache().size(), TkzFirework::kMostParticles);
  EXPECT_DOUBLE_EQ(Accumulator(q), 0.125);
  node->AmmoParticleRelease(&q, &firework.Context());
  firework.FlushActions();
  EXPECT_EQ(firework.Context().GetParticleCount(), TkzFirework::kMostParticles);
}

TEST_F(FireworkTest, SpawnerEmitsEveryDelayAndCarriesTheRest) {
  TkzFireworkAmmoSpawnerNode* spawner = firework.AddSpawnerNode();
  spawner->SpawnDelay = 0.25;
  spawner->Direction = {0, 1, 0};
  Rule(spawner->Spawn(), 1, 1, 0, 0, 2, 2);
  TKZ_ParticleData p;
  firework.LastElapsed = 0.6;
  spawner->SpawnerParticleStep(&p, &firework.Context());
  ASSERT_EQ(Queued().size(), 2u);
  EXPECT_NEAR(Accumulator(p), 0.1, 1e-12);
  // Emitted along the spawner's direction; the spawner itself stays at rest.
  EXPECT_EQ(Queued()[0]->Velocity, (TKZ_Vectorf3{0, 2, 0}));
  EXPECT_EQ(p.Velocity, (TKZ_Vectorf3{0, 0, 0}));
  spawner->SpawnerParticleRelease(&p, &firework.Context());
  EXPECT_EQ(p.UserData, nullptr);
}

TEST_F(FireworkTest, LaunchLifeTimesAndTheTemplateCache) {
  TkzFireworkAmmoParticleNode* node = firework.AddAmmoNode();
  node->MinLifeTime = node->MaxLifeTime = 2.0;
  node->Mass = 0.5;
  node->Force = {0, -1, 0};
  node->AirResistance = 3;
  firework.AddAmmoNode()->MaxLifeTime = 3;
  TKZ_Context& context = firework.Context();

  firework.Launch(0, {1, 1, 1}, {0, 4, 0}, kNaN);
  EXPECT_EQ(context.GetParticles().Tail()->Data.LifeTime, 2.0f);
  // The same kind again does not reload the template; another kind does.
  context.SetTemplateColor(1, 1, 1, 1);
  firework.Launch(0, {0, 0, 0}, {0, 0, 0}, kNaN);
  EXPECT_EQ(context.GetTemplate().Color, (TKZ_Vectorf4{1, 1, 1, 1}));
  firework.Launch(1, {0, 0, 0}, {0, 0, 0}, kNaN);
  EXPECT_EQ(context.GetTemplate().Color, (TKZ_Vectorf4{0, 0, 0, 0}));
  EXPECT_LT(context.GetParticles().Tail()->Data.LifeTime, 3.0f);

  // After clearing, the last kind is loaded afresh with all its values.
  firework.Launch(0, {0, 0, 0}, {0, 0, 0}, 1);
  firework.ClearParticles();
  EXPECT_EQ(firework.TemplateNode(), nullptr);
  firework.Launch(0, {0, 0, 0}, {0, 0, 0}, 1);
  const TKZ_ParticleData& again = context.GetParticles().Head()->Data;
  EXPECT_EQ(again.Appearance, &node->ParticleAppearance());
  EXPECT_EQ(again.OnStep.Object, node);
  EXPECT_EQ(again.OnRelease.Object, node);
  EXPECT_EQ(again.Mass, 0.5f);
  EXPECT_EQ(again.Force, (TKZ_Vectorf3{0, -1, 0}));
  EXPECT_EQ(again.AirResistance, 3.0f);

  // A setup drops the cache.
  firework.AddSpawnerNode();
  firework.Setup(0, {0, 1, 0}, 5.0);
  EXPECT_EQ(firework.TemplateNode(), nullptr);
}

TEST_F(FireworkTest, UnknownKindsAreRefusedByName) {
  firework.AddAmmoNode();
  try {
    firework.Launch(-1, {0, 0, 0}, {0, 10, 0}, kNaN);
    FAIL();
  } catch (const EListError& e) {  // what the callers catch
    EXPECT_STREQ(e.ClassName(), "EFireworkKindError");
    EXPECT_NE(e.Message().find("Launch kind -1"), std::string::npos) << e.Message();
  }
  EXPECT_THROW(firework.Launch(1, {0, 0, 0}, {0, 10, 0}, kNaN), EFireworkKindError);
  EXPECT_THROW(firework.Setup(0, {0, 0, 0}, 1), EFireworkKindError);
  EXPECT_EQ(firework.Context().GetParticleCount(), 0u);
}

TEST(FireworkLifetime, QueuedParticlesAreAddedBeforeTheContextGoes) {
  FakeGL fake;
  TkzFireworkAmmoParticleNode outside;  // outlives the effect, so its model can be looked at after
  {
    TkzFirework firework;
    for (int i = 0; i < 3; ++i) firework.AddParticle(&outside, {0, 0, 0}, {0, 1, 0}, false, 1.0);
    EXPECT_EQ(outside.ParticleAppearance().RefCount, 0u);
  }
  EXPECT_EQ(outside.ParticleAppearance().RefCount, 3u);
}
