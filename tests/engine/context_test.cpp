#include "engine/context.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/appearance.h"
#include "engine/magnets.h"
#include "tests/support/fake_gl.h"

namespace {

class ContextTest : public ::testing::Test {
 protected:
  FakeGL fake;
  TKZ_Context ctx;
};

struct FakeTree : CollisionTreeInterface {
  std::vector<TKZ_Context*> contexts;
  void AttachContext(TKZ_Context* c) override { contexts.push_back(c); }
  void DetachContext(TKZ_Context* c) override {
    for (auto it = contexts.begin(); it != contexts.end(); ++it)
      if (*it == c) {
        contexts.erase(it);
        return;
      }
  }
  bool TestParticle(PKZ_ParticleData, int32_t, TKZ_Context*) override { return false; }
};

void Noop(void*, PKZ_ParticleData, TKZ_Context*) {}

}  // namespace

TEST_F(ContextTest, CapabilitySelectorsAreChecked) {
  ctx.Disable(kzcAnimation);
  ctx.Enable(10);
  EXPECT_EQ(TKZ_GetLastError(), 2u);
  ctx.Disable(0xFFFFFFFFu);
  EXPECT_EQ(TKZ_GetLastError(), 2u);
  EXPECT_FALSE(ctx.IsEnabled(10));
  EXPECT_EQ(TKZ_GetLastError(), 2u);
  for (uint32_t c = 0; c < 10; ++c) {
    const bool on = c == kzcFrustumCulling || c == kzcPhysics || c == kzcGeometry;
    EXPECT_EQ(ctx.IsEnabled(c), on) << c;
  }
  ctx.Enable(kzcTwoLayers);
  EXPECT_TRUE(ctx.IsEnabled(kzcTwoLayers));
  EXPECT_EQ(TKZ_GetLastError(), 0u);
}

TEST_F(ContextTest, ParameterCodesAndTheirErrors) {
  const float one = 1.0f;
  const TKZ_Vectorf3 wind{1, 2, 3};
  for (int32_t bad : {250, 0, 103, 304, 99, -100, 400, 1000}) {
    ctx.SetParameter(kzpAirDensity, &one);
    ctx.SetParameter(bad, &wind);
    EXPECT_EQ(TKZ_GetLastError(), 2u) << bad;
  }
  float density = 0;
  ctx.GetParameter(kzpAirDensity, &density);
  EXPECT_EQ(density, 1.0f);
  EXPECT_EQ(TKZ_GetLastError(), 0u);

  // Unknown groups write nothing and leave the error code as it was.
  float untouched = -7;
  TKZ_Check(false, kKzBadGrid);
  ctx.GetParameter(250, &untouched);
  ctx.GetParameter(0, &untouched);
  EXPECT_EQ(untouched, -7.0f);
  EXPECT_EQ(TKZ_GetLastError(), 4u);
  // A bad index in a known group is error 2 and writes nothing.
  ctx.GetParameter(103, &untouched);
  EXPECT_EQ(TKZ_GetLastError(), 2u);
  EXPECT_EQ(untouched, -7.0f);

  ctx.SetParameter(kzpWind, &wind);
  TKZ_Vectorf3 got{};
  ctx.GetParameter(kzpWind, &got);
  EXPECT_EQ(got, wind);
  ctx.SetParameter(kzpWind, nullptr);
  EXPECT_EQ(TKZ_GetLastError(), 1u);
  ctx.GetParameter(kzpWind, &got);
  EXPECT_EQ(got, wind);
}

TEST_F(ContextTest, TexturesWithCellGrids) {
  ctx.AddTexture(5, 0, 4);
  EXPECT_EQ(TKZ_GetLastError(), 4u);
  ctx.AddTexture(5, 4, -1);
  EXPECT_EQ(TKZ_GetLastError(), 4u);
  EXPECT_TRUE(ctx.GetTextures().empty());
  ctx.SetTexture(0);  // nothing to select yet
  EXPECT_EQ(TKZ_GetLastError(), 1u);
  EXPECT_EQ(ctx.GetTextureIndex(), 0);

  ctx.AddTexture(7, 2, 4);
  EXPECT_EQ(TKZ_GetLastError(), 0u);
  const TKZ_Texture& t = ctx.GetTextures()[0];
  EXPECT_EQ(t.GLName, 7u);
  ASSERT_EQ(t.CellCoords.size(), 8u);
  // Cell 6: row 1, column 2. Corners (0,0), (0,1), (1,0), (1,1).
  const auto& c = t.CellCoords[6];
  EXPECT_EQ(c[0], (TKZ_Vectorf2{0.5f, 0.5f}));
  EXPECT_EQ(c[1], (TKZ_Vectorf2{0.5f, 0.0f}));
  EXPECT_EQ(c[2], (TKZ_Vectorf2{0.75f, 0.5f}));
  EXPECT_EQ(c[3], (TKZ_Vectorf2{0.75f, 0.0f}));
  EXPECT_EQ(t.CellCoords[0][0], (TKZ_Vectorf2{0.0f, 1.0f}));

  ctx.AddTexture(8, 1, 1);
  ctx.SetTexture(1);
  EXPECT_EQ(ctx.GetTextureIndex(), 1);
  ctx.SetTexture(-1);
  EXPECT_EQ(TKZ_GetLastError(), 1u);
  ctx.SetTexture(2);
  EXPECT_EQ(TKZ_GetLastError(), 1u);
  EXPECT_EQ(ctx.GetTextureIndex(), 1);
}

TEST_F(ContextTest, TrailLengthNeedsTrailsAndFallsBackWhenTheyGo) {
  ctx.SetTrailLength(5);
  EXPECT_EQ(TKZ_GetLastError(), 3u);
  EXPECT_EQ(ctx.GetTrailLength(), 2);
  ctx.Enable(kzcTrails);
  ctx.SetTrailLength(1);
  EXPECT_EQ(TKZ_GetLastError(), 3u);
  ctx.SetTrailLength(5);
  EXPECT_EQ(TKZ_GetLastError(), 0u);
  EXPECT_EQ(ctx.GetTrailLength(), 5);
  ctx.Disable(kzcTrails);
  EXPECT_EQ(ctx.GetTrailLength(), 2);
}

TEST_F(ContextTest, TemplateSettersAndEmission) {
  ctx.SetTemplateMass(0);
  EXPECT_EQ(TKZ_GetLastError(), 1u);
  EXPECT_EQ(ctx.GetTemplate().Mass, 1.0f);
  ctx.SetTemplateMass(-3);
  EXPECT_EQ(ctx.GetTemplate().Mass, 1.0f);
  ctx.SetTemplateMass(2.5f);
  EXPECT_EQ(TKZ_GetLastError(), 0u);
  EXPECT_EQ(ctx.GetTemplate().Mass, 2.5f);
  ctx.SetTemplateMassDirect(-1);
  EXPECT_EQ(ctx.GetTemplate().Mass, -1.0f);

  ctx.SetTemplateLifetime(0);
  EXPECT_EQ(ctx.GetTemplate().Age, 2.0f);
  ctx.SetTemplateLifetime(3);
  EXPECT_EQ(ctx.GetTemplate().Age, 0.0f);
  EXPECT_EQ(ctx.GetTemplate().LifeTime, 3.0f);
  ctx.SetTemplateTextureCell(6);
  EXPECT_EQ(ctx.GetTemplate().TextureCells[1], 6u);
  EXPECT_EQ(ctx.GetTemplate().LayerAlpha, (TKZ_Vectorf2{1, 0}));

  TKZ_AppearanceModel model;
  ctx.SetTemplateAppearanceModel(&model);
  ctx.SetTemplateVelocity(KZ_MakeVectorf3(1, 2, 3));
  ctx.SetTemplateColor(0.1f, 0.2f, 0.3f, 0.4f);
  ctx.EmitParticle(4, 5, 6);
  ctx.EmitParticle(KZ_MakeVectorf3(7, 8, 9));
  EXPECT_EQ(TKZ_GetLastError(), 0u);
  EXPECT_EQ(ctx.GetParticleCount(), 2u);
  EXPECT_EQ(model.RefCount, 2u);
  TKZ_LinkedList& list = ctx.GetParticles();
  const TKZ_ParticleData& first = list.Head()->Data;
  EXPECT_EQ(first.Position, (TKZ_Vectorf3{4, 5, 6}));
  EXPECT_EQ(first.OldPosition, (TKZ_Vectorf3{4, 5, 6}));
  EXPECT_EQ(first.Velocity, (TKZ_Vectorf3{1, 2, 3}));
  EXPECT_EQ(first.Color, (TKZ_Vectorf4{0.1f, 0.2f, 0.3f, 0.4f}));
  EXPECT_EQ(first.Material, ctx.GetStandardMaterial());
  EXPECT_EQ(list.Tail()->Data.Position, (TKZ_Vectorf3{7, 8, 9}));
  ctx.ClearParticles();
  EXPECT_EQ(model.RefCount, 2u);  // cleared particles do not lower the count
}

TEST_F(ContextTest, ResetRestoresDefaultsAndKeepsTexturesMagnetsAndTrees) {
  ctx.AddTexture(3, 4, 4);
  ctx.AddTexture(4, 4, 4);
  ctx.SetTexture(1);
  TKZ_Magnet magnet;
  ctx.AddMagnet(&magnet);
  FakeTree tree;
  ctx.AddCollisionTree(&tree);
  EXPECT_EQ(tree.contexts, (std::vector<TKZ_Context*>{&ctx}));

  for (uint32_t c = 0; c < 10; ++c) ctx.IsEnabled(c) ? ctx.Disable(c) : ctx.Enable(c);
  ctx.SetTrailLength(9);
  const float shift = 0.25f, lag = 3, density = 2;
  const TKZ_Vectorf3 v{1, 1, 1};
  ctx.SetParameter(kzpTrailTextureShift, &shift);
  ctx.SetParameter(kzpTrailLag, &lag);
  ctx.SetParameter(kzpAirDensity, &density);
  for (int32_t code : {300, 301, 302, 303}) ctx.SetParameter(code, &v);
  ctx.SetStorageMode(kzsBufferObject);
  ctx.SetPhysicsMode(kzpmSimple);
  ctx.SetBlendFunc(1, 2);
  ctx.SetOnParticleCallback([](PKZ_ParticleData, TKZ_Context*) {});
  ctx.SetGrowthStep(33);
  TKZ_Material other("other");
  ctx.SetTemplateMaterial(&other);
  ctx.SetTemplateSize(3, 4);
  ctx.SetTemplateForce(1, 2, 3);
  ctx.SetTemplateAirResistance(5);
  ctx.SetTemplateNormalCurvature(3);
  ctx.SetTemplateUserData(&other);
  ctx.SetTemplateOnStep(TKZ_NotifyEvent::Of(&Noop));
  ctx.SetTemplateOnRelease(TKZ_NotifyEvent::Of(&Noop));
  const TKZ_CollidedEvent collided = TKZ_CollidedEvent::Of([](void*, void*, TKZ_CollisionPrimitive*, TKZ_Context*) {});
  ctx.SetOnCollided(collided);
  ctx.SetTemplateLifetime(4);
  ctx.EmitParticle(0, 0, 0);
  TKZ_Check(false, kKzBusy);

  ctx.Reset();
  EXPECT_EQ(TKZ_GetLastError(), 0u);
  for (uint32_t c = 0; c < 10; ++c) {
    const bool on = c == kzcFrustumCulling || c == kzcAnimation || c == kzcPhysics || c == kzcGeometry;
    EXPECT_EQ(ctx.IsEnabled(c), on) << c;
  }
  float got = 0;
  ctx.GetParameter(kzpTrailTextureShift, &got);
  EXPECT_EQ(got, 0.25f);  // not reset
  ctx.GetParameter(kzpTrailLag, &got);
  EXPECT_EQ(got, 1.0f);
  ctx.GetParameter(kzpAirDensity, &got);
  EXPECT_FLOAT_EQ(got, 1.29f);
  for (int32_t code : {300, 301, 302, 303}) {
    TKZ_Vectorf3 vec{9, 9, 9};
    ctx.GetParameter(code, &vec);
    EXPECT_EQ(vec, (TKZ_Vectorf3{0, 0, 0})) << code;
  }
  EXPECT_EQ(ctx.GetTrailLength(), 2);
  EXPECT_EQ(ctx.GetStorageMode(), kzsVertexArray);
  EXPECT_EQ(ctx.GetPhysicsMode(), kzpmDrag);
  EXPECT_EQ(ctx.GetBlendSource(), 770u);
  EXPECT_EQ(ctx.GetBlendDest(), 1u);
  EXPECT_EQ(ctx.GetOnParticleCallback(), nullptr);
  EXPECT_EQ(ctx.GetParticleCount(), 0u);
  EXPECT_EQ(ctx.GetGrowthStep(), 33u);  // a new pool takes over the growth step

  const TKZ_ParticleData& t = ctx.GetTemplate();
  EXPECT_EQ(t.Mass, 1.0f);
  EXPECT_EQ(t.Age, 2.0f);
  EXPECT_EQ(t.LifeTime, 0.0f);
  EXPECT_EQ(t.NormalCurvature, 1.0f);
  EXPECT_EQ(t.AirResistance, 0.0f);
  EXPECT_EQ(t.Size, (TKZ_Vectorf2{0, 0}));
  EXPECT_EQ(t.Force, (TKZ_Vectorf3{0, 0, 0}));
  EXPECT_EQ(t.LayerAlpha, (TKZ_Vectorf2{1, 0}));
  EXPECT_EQ(t.Material, ctx.GetStandardMaterial());
  EXPECT_EQ(t.UserData, nullptr);
  EXPECT_FALSE(t.OnStep.Assigned());
  EXPECT_FALSE(t.OnRelease.Assigned());
  EXPECT_TRUE(t.OnCollided == collided);  // kept

  EXPECT_EQ(ctx.GetTextures().size(), 2u);
  EXPECT_EQ(ctx.GetTextureIndex(), 1);
  EXPECT_EQ(ctx.GetMagnets().size(), 1u);
  EXPECT_EQ(ctx.GetCollisionTrees().size(), 1u);
  EXPECT_EQ(ctx.GetStandardMaterial()->Name, "kz_standard_particle_material");
  EXPECT_EQ(ctx.GetStandardMaterial()->Damping, 1.0f);

  ctx.RemoveCollisionTree(&tree);
  EXPECT_TRUE(tree.contexts.empty());
  EXPECT_TRUE(ctx.GetCollisionTrees().empty());
}

TEST_F(ContextTest, ReserveAndGrowthStepShapeThePool) {
  ctx.ReserveParticles(5);
  EXPECT_EQ(TKZ_GetLastError(), 0u);
  ctx.SetTemplateLifetime(1);
  ctx.EmitParticle(0, 0, 0);
  EXPECT_EQ(ctx.GetParticles().Head()->Index, 0);
  EXPECT_EQ(ctx.GetParticles().Items.size(), 5u);
  ctx.ReserveParticles(-4);
  EXPECT_EQ(ctx.GetParticles().Items.size(), 5u);
}
