#include <gtest/gtest.h>

#include <cmath>

#include "engine/appearance.h"
#include "engine/collision_types.h"
#include "engine/context.h"
#include "engine/magnets.h"
#include "tests/support/fake_gl.h"

namespace {

TKZ_ParticleData ParticleAt(float age) {
  TKZ_ParticleData p;
  p.Age = age;
  p.Color = {9, 9, 9, 9};
  p.Size = {9, 9};
  return p;
}

// Keyframes at 0.2 (red, size 2, cell 1) and 0.6 (blue, size 6, cell 5).
void TwoKeyframes(TKZ_AppearanceModel& m) {
  m.AddKeyframe(0.2f);
  m.SetColor(1, 0, 0, 1);
  m.SetSize(2, 2);
  m.SetKeyframeInteger(1);
  m.AddKeyframe(0.6f);
  m.SetColor(0, 0, 1, 0);
  m.SetSize(6, 10);
  m.SetKeyframeInteger(5);
}

}  // namespace

TEST(Appearance, KeyframesStartAsCopiesAndSettersNeedAKeyframe) {
  TKZ_AppearanceModel m;
  m.SetColor(1, 1, 1, 1);
  m.SetSize(3, 3);
  EXPECT_TRUE(m.Keyframes.empty());
  m.AddKeyframe(0.0f);
  EXPECT_EQ(m.Keyframes[0].Color, (TKZ_Vectorf4{0, 0, 0, 0}));
  m.SetColor(KZ_MakeVectorf4(0.5f, 0.25f, 1, 1));
  m.SetSize(KZ_MakeVectorf2(4, 8));
  m.SetKeyframeInteger(3);
  m.AddKeyframe(0.5f);
  EXPECT_EQ(m.CurrentKeyframe, 1);
  EXPECT_EQ(m.KeyframeCount, 2u);
  EXPECT_EQ(m.Keyframes[1].Color, (TKZ_Vectorf4{0.5f, 0.25f, 1, 1}));
  EXPECT_EQ(m.Keyframes[1].Size, (TKZ_Vectorf2{4, 8}));
  EXPECT_EQ(m.Keyframes[1].TextureCell, 3u);
  EXPECT_EQ(m.Keyframes[1].Time, 0.5f);
}

TEST(Appearance, EvaluateInterpolatesBetweenTheKeyframesAroundTheAge) {
  TKZ_AppearanceModel m;
  TwoKeyframes(m);

  TKZ_ParticleData before = ParticleAt(0.1f);  // before the first: untouched
  m.Evaluate(before, 0.1f);
  EXPECT_EQ(before.KeyframeIndex, 0);
  EXPECT_EQ(before.Color, (TKZ_Vectorf4{9, 9, 9, 9}));

  TKZ_ParticleData mid = ParticleAt(0.3f);  // t = 0.25
  m.Evaluate(mid, 0.1f);
  EXPECT_EQ(mid.KeyframeIndex, 1);
  EXPECT_FLOAT_EQ(mid.Color[0], 0.75f);
  EXPECT_FLOAT_EQ(mid.Color[2], 0.25f);
  EXPECT_FLOAT_EQ(mid.Size[0], 3.0f);
  EXPECT_FLOAT_EQ(mid.Size[1], 4.0f);
  EXPECT_EQ(mid.TextureCells[0], 1u);
  EXPECT_EQ(mid.TextureCells[1], 5u);
  EXPECT_FLOAT_EQ(mid.LayerAlpha[0], 0.75f);
  EXPECT_FLOAT_EQ(mid.LayerAlpha[1], 0.25f);

  // Exactly at a keyframe's time the index moves past it: pair (it, next) with t = 0.
  TKZ_ParticleData exact = ParticleAt(0.2f);
  m.Evaluate(exact, 0.1f);
  EXPECT_EQ(exact.KeyframeIndex, 1);
  EXPECT_EQ(exact.Color, (TKZ_Vectorf4{1, 0, 0, 1}));

  // At or past the last keyframe nothing changes; the index never goes back.
  TKZ_ParticleData late = ParticleAt(0.7f);
  m.Evaluate(late, 0.1f);
  EXPECT_EQ(late.KeyframeIndex, 2);
  EXPECT_EQ(late.Color, (TKZ_Vectorf4{9, 9, 9, 9}));
  late.Age = 0.3f;
  m.Evaluate(late, 0.1f);
  EXPECT_EQ(late.KeyframeIndex, 2);
  EXPECT_EQ(late.Color, (TKZ_Vectorf4{9, 9, 9, 9}));

  // A single keyframe never changes a particle.
  TKZ_AppearanceModel one;
  one.AddKeyframe(0.5f);
  one.SetColor(1, 1, 1, 1);
  TKZ_ParticleData a = ParticleAt(0.2f), b = ParticleAt(0.8f);
  one.Evaluate(a, 0.1f);
  one.Evaluate(b, 0.1f);
  EXPECT_EQ(a.Color, (TKZ_Vectorf4{9, 9, 9, 9}));
  EXPECT_EQ(b.Color, (TKZ_Vectorf4{9, 9, 9, 9}));
  EXPECT_EQ(b.KeyframeIndex, 1);

  // Equal times: t = 0, the earlier keyframe's values, no division by zero.
  TKZ_AppearanceModel same;
  same.AddKeyframe(0.0f);
  same.AddKeyframe(0.4f);
  same.SetColor(0.2f, 0.2f, 0.2f, 0.2f);
  same.AddKeyframe(0.4f);
  same.SetColor(1, 1, 1, 1);
  same.AddKeyframe(0.9f);
  TKZ_ParticleData tie = ParticleAt(0.4f);
  tie.KeyframeIndex = 2;  // already past the first pair
  same.Evaluate(tie, 0.1f);
  EXPECT_EQ(tie.KeyframeIndex, 3);
  EXPECT_EQ(tie.Color, (TKZ_Vectorf4{1, 1, 1, 1}));
  TKZ_ParticleData tie2 = ParticleAt(0.4f);
  tie2.KeyframeIndex = 1;
  TKZ_AppearanceModel two_equal;
  two_equal.AddKeyframe(0.4f);
  two_equal.SetColor(0.5f, 0.5f, 0.5f, 0.5f);
  two_equal.AddKeyframe(0.4f);
  two_equal.SetColor(1, 1, 1, 1);
  // Age below both: index stays at 0 - then with a stale index 1 the pair is (0, 1) with equal times.
  tie2.Age = 0.3f;
  two_equal.Evaluate(tie2, 0.1f);
  EXPECT_FALSE(std::isnan(tie2.Color[0]));
  EXPECT_EQ(tie2.Color, (TKZ_Vectorf4{0.5f, 0.5f, 0.5f, 0.5f}));
}

TEST(Appearance, CosineEasingAndSizeModes) {
  TKZ_AppearanceModel m;
  m.AddKeyframe(0.0f);
  m.AddKeyframe(1.0f);
  m.SetColor(1, 1, 1, 1);
  m.InterpolationMode = 1;
  TKZ_ParticleData quarter = ParticleAt(0.25f);
  m.Evaluate(quarter, 0.1f);
  EXPECT_NEAR(quarter.Color[0], 0.1464466f, 1e-6f);
  TKZ_ParticleData half = ParticleAt(0.5f);
  m.Evaluate(half, 0.1f);
  EXPECT_NEAR(half.Color[0], 0.5f, 1e-7f);

  TKZ_AppearanceModel grow;
  grow.AddKeyframe(0.2f);
  grow.AddKeyframe(0.6f);
  grow.SizeMode = 1;
  grow.SizeGrowth = {2, 4};
  TKZ_ParticleData p = ParticleAt(0.1f);
  p.Size = {1, 1};
  grow.Evaluate(p, 0.5f);  // before the first keyframe: no growth
  EXPECT_EQ(p.Size, (TKZ_Vectorf2{1, 1}));
  p.Age = 0.4f;
  grow.Evaluate(p, 0.5f);
  EXPECT_EQ(p.Size, (TKZ_Vectorf2{2, 3}));
  p.Age = 0.7f;
  grow.Evaluate(p, 0.5f);  // past the last: no growth
  EXPECT_EQ(p.Size, (TKZ_Vectorf2{2, 3}));

  TKZ_AppearanceModel keep;
  TwoKeyframes(keep);
  keep.SizeMode = 7;
  TKZ_ParticleData q = ParticleAt(0.4f);
  keep.Evaluate(q, 0.1f);
  EXPECT_EQ(q.Size, (TKZ_Vectorf2{9, 9}));
}

TEST(Magnets, PullsPerModeWithRangeAndClamp) {
  TKZ_Magnet m;
  m.Position = {2, 0, 0};
  m.Range = 5;
  m.Strength = 10;
  TKZ_ParticleData p;
  p.Position = {0, 0, 0};
  p.Mass = 2;
  TKZ_Vectorf3 f;
  const float expected[] = {5, 20, 0, 10, 0.333629f};
  for (uint32_t mode : {0u, 1u, 3u, 4u}) {
    m.Mode = mode;
    m.ApplyForce(p, f);
    EXPECT_NEAR(f[0], expected[mode], 1e-5f) << "mode " << mode;
    EXPECT_EQ(f[1], 0.0f);
  }
  m.Mode = 9;  // unknown: the offset itself
  m.ApplyForce(p, f);
  EXPECT_EQ(f, (TKZ_Vectorf3{2, 0, 0}));

  m.Mode = 2;
  m.Range = 10;
  m.Strength = 1;
  m.ApplyForce(p, f);
  EXPECT_EQ(f, (TKZ_Vectorf3{-24, 0, 0}));

  m.Mode = 0;
  m.Strength = 10;
  m.Clamp = 3;
  m.ApplyForce(p, f);
  EXPECT_NEAR(f[0], 3.0f, 1e-6f);
  m.Clamp = 8;
  m.ApplyForce(p, f);
  EXPECT_NEAR(f[0], 5.0f, 1e-6f);

  // At the magnet: nothing in every mode, no division by zero.
  p.Position = m.Position;
  for (uint32_t mode = 0; mode < 6; ++mode) {
    m.Mode = mode;
    m.ApplyForce(p, f);
    EXPECT_EQ(f, (TKZ_Vectorf3{0, 0, 0})) << "mode " << mode;
  }
  // Exactly at the range it pulls; just beyond it does not; range 0 never acts.
  m.Mode = 3;
  m.Clamp = 0;
  m.Range = 2;
  p.Position = {0, 0, 0};
  m.ApplyForce(p, f);
  EXPECT_NEAR(f[0], 10.0f, 1e-6f);
  p.Position = {-0.001f, 0, 0};
  m.ApplyForce(p, f);
  EXPECT_EQ(f, (TKZ_Vectorf3{0, 0, 0}));
  m.Range = 0;
  p.Position = {1.5f, 0, 0};
  m.ApplyForce(p, f);
  EXPECT_EQ(f, (TKZ_Vectorf3{0, 0, 0}));
}

TEST(Magnets, FreeingAMagnetDetachesItFromEveryContext) {
  FakeGL fake;
  TKZ_Context a, b;
  auto* m = new TKZ_Magnet;
  TKZ_Magnet other;
  a.AddMagnet(m);
  a.AddMagnet(&other);
  b.AddMagnet(m);
  EXPECT_EQ(m->Contexts.size(), 2u);
  delete m;
  EXPECT_EQ(a.GetMagnets(), (std::vector<TKZ_Magnet*>{&other}));
  EXPECT_TRUE(b.GetMagnets().empty());
  EXPECT_EQ(a.IndexOfMagnet(&other), 0);
  a.RemoveMagnet(&other);
  EXPECT_TRUE(other.Contexts.empty());
  a.RemoveMagnet(&other);  // absent: nothing
  {
    TKZ_Context c;
    c.AddMagnet(&other);
  }
  EXPECT_TRUE(other.Contexts.empty());  // a freed context detaches itself
}

TEST(Collision, MaterialResponseScalesTheBounce) {
  TKZ_Material particle_material("p");
  TKZ_Material primitive("q");
  EXPECT_EQ(primitive.Name, "q");
  EXPECT_EQ(primitive.Damping, 0.0f);
  TKZ_ParticleData p;
  p.Material = &particle_material;
  const struct {
    float prim, part, factor;
  } cases[] = {{0.5f, 0.5f, 0.75f}, {1, 1, 0}, {0, 5, 1}, {2, 1, 0}, {-0.5f, 1, 1.5f}};
  for (const auto& c : cases) {
    primitive.Damping = c.prim;
    particle_material.Damping = c.part;
    p.Velocity = {4, -2, 0};
    primitive.Respond(&p);
    EXPECT_FLOAT_EQ(p.Velocity[0], 4 * c.factor);
    EXPECT_FLOAT_EQ(p.Velocity[1], -2 * c.factor);
  }
  p.Material = nullptr;  // no material: full speed
  primitive.Damping = 0.9f;
  p.Velocity = {4, 0, 0};
  primitive.Respond(&p);
  EXPECT_EQ(p.Velocity[0], 4.0f);
}
