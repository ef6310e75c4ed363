// The frame step driven through the recording GL fake with known matrices.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <vector>

#include "engine/appearance.h"
#include "engine/context.h"
#include "engine/frustum.h"
#include "engine/magnets.h"
#include "engine/vertex_storage.h"
#include "tests/support/allocation_hooks.h"
#include "tests/support/fake_gl.h"

namespace {

class StepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitContextFrustumModule();
    ctx.SetTemplateLifetime(10);
    ctx.SetTemplateSize(0.1f, 0.1f);
  }
  void TearDown() override { DoneContextFrustumModule(); }

  std::vector<float> ChainX() {
    std::vector<float> xs;
    TKZ_LinkedList& l = ctx.GetParticles();
    for (PKZ_ListNode n = l.Head(); n; n = l.NextOf(n)) xs.push_back(n->Data.Position[0]);
    return xs;
  }
  TKZ_ParticleData& Head() { return ctx.GetParticles().Head()->Data; }

  FakeGL fake;
  TKZ_Context ctx;
};

// Records the hooks it sees and can try what a hook may not do.
struct Hooks {
  TKZ_Context* ctx = nullptr;
  int steps = 0;
  int releases = 0;
  int gravitated = 0;
  float age_at_step = -1;
  bool try_forbidden = false;
  std::vector<uint32_t> errors;
  void OnStep(PKZ_ParticleData p, TKZ_Context* c) {
    ++steps;
    age_at_step = p->Age;
    EXPECT_EQ(c, ctx);
    EXPECT_TRUE(c->IsBusy());
    if (try_forbidden) {
      c->EmitParticle(0, 0, 0);
      errors.push_back(TKZ_GetLastError());
      c->Process(0.1f);
      errors.push_back(TKZ_GetLastError());
      c->Draw(true);
      errors.push_back(TKZ_GetLastError());
      c->ClearParticles();
      errors.push_back(TKZ_GetLastError());
      c->ReserveParticles(100);
      errors.push_back(TKZ_GetLastError());
      c->Reset();
      errors.push_back(TKZ_GetLastError());
      c->SetTemplateSize(3, 3);  // template setters stay usable
    }
  }
  void OnRelease(PKZ_ParticleData, TKZ_Context*) { ++releases; }
  void OnGravitated(PKZ_ParticleData, TKZ_Magnet*, TKZ_Context*) { ++gravitated; }
};

void Attach(TKZ_Context& ctx, Hooks& h) {
  h.ctx = &ctx;
  ctx.SetTemplateOnStep(TKZ_NotifyEvent::Bind<&Hooks::OnStep>(&h));
  ctx.SetTemplateOnRelease(TKZ_NotifyEvent::Bind<&Hooks::OnRelease>(&h));
  ctx.SetOnGravitated(TKZ_GravitatedEvent::Bind<&Hooks::OnGravitated>(&h));
}

}  // namespace

TEST_F(StepTest, ZeroFrameTimeRunsGeometryHooksAndCullingButNeitherMovesNorAges) {
  Hooks h;
  Attach(ctx, h);
  TKZ_AppearanceModel model;
  model.AddKeyframe(0);
  model.AddKeyframe(1);
  model.SetColor(1, 1, 1, 1);
  ctx.SetTemplateAppearanceModel(&model);
  ctx.SetTemplateVelocity(1, 0, 0);
  ctx.SetTemplateForce(0, -10, 0);
  ctx.SetTemplateColor(0.5f, 0.5f, 0.5f, 0.5f);
  ctx.EmitParticle(0.25f, 0, 0);
  ctx.Process(0.0f);
  EXPECT_EQ(TKZ_GetLastError(), 0u);
  const TKZ_ParticleData& p = Head();
  EXPECT_EQ(p.Position, (TKZ_Vectorf3{0.25f, 0, 0}));
  EXPECT_EQ(p.Velocity, (TKZ_Vectorf3{1, 0, 0}));
  EXPECT_EQ(p.Age, 0.0f);
  EXPECT_EQ(p.Color, (TKZ_Vectorf4{0.5f, 0.5f, 0.5f, 0.5f}));  // not animated
  EXPECT_EQ(h.steps, 1);
  ASSERT_EQ(p.Trail.size(), 2u);
  EXPECT_FLOAT_EQ(p.Trail[1].Vertices[1][0], 0.3f);  // geometry built
  EXPECT_EQ(ctx.GetVertexArray().Count, 4u);
  EXPECT_EQ(fake.Count("glGetFloatv"), 3u);  // the model-view for the view, both matrices for the frustum

  ctx.Process(0.5f);
  EXPECT_FLOAT_EQ(Head().Age, 0.05f);
  EXPECT_EQ(Head().Color[0], 0.0f);  // animated: age 0 sits on the first keyframe
}

TEST_F(StepTest, LifeRulesAgeExactlyOneAndLifetimeZero) {
  Hooks h;
  Attach(ctx, h);
  ctx.SetTemplateLifetime(2);
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(1.0f);  // age 0.5
  ctx.Process(1.0f);  // age exactly 1: still stepped
  EXPECT_EQ(Head().Age, 1.0f);
  ctx.Process(1.0f);  // not released yet: the test is before the step
  EXPECT_EQ(h.steps, 3);
  EXPECT_EQ(h.age_at_step, 1.0f);
  EXPECT_EQ(ctx.GetParticleCount(), 1u);
  ctx.Process(1.0f);
  EXPECT_EQ(ctx.GetParticleCount(), 0u);
  EXPECT_EQ(h.steps, 3);
  EXPECT_EQ(h.releases, 1);

  ctx.SetTemplateLifetime(0);
  ctx.EmitParticle(0, 0, 0);
  ctx.EmitParticle(1, 0, 0);
  ctx.Process(0.1f);
  EXPECT_EQ(ctx.GetParticleCount(), 0u);
  EXPECT_EQ(h.steps, 3);  // released without a step
  EXPECT_EQ(h.releases, 3);
  EXPECT_EQ(ctx.GetVertexArray().Count, 0u);
}

TEST_F(StepTest, HooksCannotChangeTheParticleSetWhileBusy) {
  Hooks h;
  h.try_forbidden = true;
  Attach(ctx, h);
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.1f);
  EXPECT_EQ(h.errors, (std::vector<uint32_t>{3, 3, 3, 3, 3, 3}));
  EXPECT_EQ(ctx.GetParticleCount(), 1u);
  EXPECT_EQ(ctx.GetTemplate().Size, (TKZ_Vectorf2{3, 3}));
  EXPECT_FALSE(ctx.IsBusy());
  EXPECT_EQ(TKZ_GetLastError(), 3u);  // the hook's last refused call
  EXPECT_TRUE(ctx.IsEnabled(kzcFrustumCulling));
}

// What a hook does to the context from inside the walk: a refused emission is reported by the
// error code after Process, and a reset runs all its steps but the clearing of the particles.
struct Refused {
  bool reset = false;
  void OnStep(PKZ_ParticleData, TKZ_Context* c) {
    if (reset) {
      c->Reset();
    } else {
      c->EmitParticle(0, 0, 0);
    }
  }
};

TEST_F(StepTest, HookFailuresOutliveProcessAndResetWhileBusyKeepsOnlyTheParticles) {
  Refused hook;
  ctx.SetTemplateOnStep(TKZ_NotifyEvent::Bind<&Refused::OnStep>(&hook));
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.1f);
  EXPECT_EQ(ctx.GetParticleCount(), 1u);
  EXPECT_EQ(TKZ_GetLastError(), 3u);
  ctx.Process(0.1f);  // Process itself starts from 0; the hook fails again
  EXPECT_EQ(TKZ_GetLastError(), 3u);

  hook.reset = true;
  ctx.Enable(kzcTrails);
  ctx.SetTrailLength(5);
  ctx.Enable(kzcDepthSort);
  ctx.Disable(kzcAnimation);
  const TKZ_Vectorf3 wind{1, 2, 3};
  ctx.SetParameter(kzpWind, &wind);
  ctx.SetStorageMode(kzsNone);
  ctx.SetPhysicsMode(kzpmSimple);
  ctx.SetBlendFunc(1, 2);
  ctx.SetOnParticleCallback([](PKZ_ParticleData, TKZ_Context*) {});
  ctx.SetTemplateSize(4, 4);
  ctx.Process(0.1f);
  EXPECT_EQ(TKZ_GetLastError(), 3u);  // the particles could not be cleared
  EXPECT_EQ(ctx.GetParticleCount(), 1u);
  EXPECT_FALSE(ctx.IsBusy());
  for (uint32_t c = 0; c < 10; ++c) {
    const bool on = c == kzcFrustumCulling || c == kzcAnimation || c == kzcPhysics || c == kzcGeometry;
    EXPECT_EQ(ctx.IsEnabled(c), on) << c;
  }
  TKZ_Vectorf3 got{9, 9, 9};
  ctx.GetParameter(kzpWind, &got);
  EXPECT_EQ(got, (TKZ_Vectorf3{0, 0, 0}));
  EXPECT_EQ(ctx.GetTrailLength(), 2);
  EXPECT_EQ(ctx.GetStorageMode(), kzsVertexArray);
  EXPECT_EQ(ctx.GetPhysicsMode(), kzpmDrag);
  EXPECT_EQ(ctx.GetBlendSource(), 770u);
  EXPECT_EQ(ctx.GetOnParticleCallback(), nullptr);
  EXPECT_EQ(ctx.GetTemplate().Size, (TKZ_Vectorf2{0, 0}));
  EXPECT_FALSE(ctx.GetTemplate().OnStep.Assigned());
}

// A step hook whose allocation fails at its n-th call, as any allocation in the walk may.
struct OutOfMemory {
  int calls = 0;
  int fail_at = 0;
  void OnStep(PKZ_ParticleData, TKZ_Context*) {
    if (++calls == fail_at) throw std::bad_alloc();
  }
};

TEST_F(StepTest, AllocationFailureInTheWalkIsErrorOneAndLeavesTheContextUsable) {
  OutOfMemory hook;
  ctx.SetTemplateOnStep(TKZ_NotifyEvent::Bind<&OutOfMemory::OnStep>(&hook));
  ctx.Enable(kzcDepthSort);
  for (int i = 0; i < 6; ++i) ctx.EmitParticle(static_cast<float>(i % 3), 0, 0);
  for (int32_t mode : {kzsBufferObject, kzsVertexArray, kzsNone}) {
    ctx.SetStorageMode(mode);
    hook.calls = 0;
    hook.fail_at = 3;
    EXPECT_NO_THROW(ctx.Process(0.1f)) << mode;
    EXPECT_EQ(TKZ_GetLastError(), 1u) << mode;
    EXPECT_FALSE(ctx.IsBusy()) << mode;
    TKZ_LinkedList& l = ctx.GetParticles();
    std::vector<int32_t> forward, backward;
    for (PKZ_ListNode n = l.Head(); n; n = l.NextOf(n)) forward.push_back(n->Index);
    for (PKZ_ListNode n = l.Tail(); n; n = l.PrevOf(n)) backward.insert(backward.begin(), n->Index);
    EXPECT_EQ(forward, backward) << mode;
    EXPECT_EQ(forward.size(), l.Count) << mode;
    EXPECT_EQ(l.Items.size(), l.Count + l.FreeCount) << mode;
    // Everything works again once memory is there.
    hook.fail_at = 0;
    ctx.EmitParticle(0, 0, 0);
    EXPECT_EQ(TKZ_GetLastError(), 0u) << mode;
    ctx.Process(0.1f);
    EXPECT_EQ(TKZ_GetLastError(), 0u) << mode;
    ctx.Draw(true);
    EXPECT_EQ(TKZ_GetLastError(), 0u) << mode;
  }
  EXPECT_EQ(ctx.GetParticleCount(), 9u);
  // A hook's own exception passes through Process, which still leaves the context usable and the
  // buffer object unmapped.
  ctx.SetStorageMode(kzsBufferObject);
  ctx.GetParticles().Head()->Data.OnStep = TKZ_NotifyEvent::Of([](void*, PKZ_ParticleData, TKZ_Context*) {
    throw std::runtime_error("hook");
  });
  EXPECT_THROW(ctx.Process(0.1f), std::runtime_error);
  EXPECT_FALSE(ctx.IsBusy());
  EXPECT_TRUE(fake.Count("glMapBuffer") == 3 && fake.Count("glUnmapBuffer") == 3);
}

TEST_F(StepTest, EmptyContextTouchesNoGLState) {
  fake.Clear();
  ctx.Process(0.1f);
  ctx.Draw(true);
  ctx.Draw(false);
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_EQ(TKZ_GetLastError(), 0u);
}

TEST_F(StepTest, BoundsAndCentreUseThePositionsBeforeTheMove) {
  ctx.EmitParticle(0, 0, 0);
  ctx.SetTemplateVelocity(0, 0, 4);
  ctx.EmitParticle(2, -1, 0);
  ctx.Process(0.5f);
  TKZ_Vectorf3 centre, lo, hi;
  ctx.GetParameter(kzpCenter, &centre);
  ctx.GetParameter(kzpBoundsMin, &lo);
  ctx.GetParameter(kzpBoundsMax, &hi);
  EXPECT_EQ(centre, (TKZ_Vectorf3{1, -0.5f, 0}));
  EXPECT_EQ(lo, (TKZ_Vectorf3{0, -1, 0}));
  EXPECT_EQ(hi, (TKZ_Vectorf3{2, 0, 0}));
  EXPECT_EQ(ctx.GetParticles().Tail()->Data.Position, (TKZ_Vectorf3{2, -1, 2}));
}

TEST_F(StepTest, SimpleAndDragMotion) {
  // Simple: position by the old velocity, then velocity by force over mass.
  ctx.SetPhysicsMode(kzpmSimple);
  ctx.SetTemplateVelocity(1, 0, 0);
  ctx.SetTemplateForce(0, 4, 0);
  ctx.SetTemplateMass(2);
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.5f);
  EXPECT_EQ(Head().Position, (TKZ_Vectorf3{0.5f, 0, 0}));
  EXPECT_EQ(Head().Velocity, (TKZ_Vectorf3{1, 1, 0}));
  EXPECT_EQ(Head().Acceleration, (TKZ_Vectorf3{0, 2, 0}));

  // Drag: velocity first, then position by the new velocity; extra force for one step only.
  ctx.ClearParticles();
  ctx.SetPhysicsMode(kzpmDrag);
  ctx.EmitParticle(0, 0, 0);
  Head().ExtraForce = {2, 0, 0};
  ctx.Process(0.5f);
  EXPECT_EQ(Head().Velocity, (TKZ_Vectorf3{1.5f, 1, 0}));
  EXPECT_EQ(Head().Position, (TKZ_Vectorf3{0.75f, 0.5f, 0}));
  EXPECT_EQ(Head().OldPosition, (TKZ_Vectorf3{0, 0, 0}));
  EXPECT_EQ(Head().ExtraForce, (TKZ_Vectorf3{0, 0, 0}));

  // Drag capped: a huge air resistance at most halves the speed in one step.
  ctx.ClearParticles();
  ctx.SetTemplateForce(0, 0, 0);
  ctx.SetTemplateVelocity(3, 4, 0);
  ctx.SetTemplateAirResistance(1e6f);
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.1f);
  EXPECT_NEAR(KZ_LengthVectorf3(Head().Velocity), 2.5f, 1e-5f);
  EXPECT_NEAR(Head().Velocity[0] / Head().Velocity[1], 0.75f, 1e-6f);

  // Mild drag and wind: acceleration = -v^2 k r / m along the motion plus W^2 k r / m along the wind.
  ctx.ClearParticles();
  ctx.SetTemplateAirResistance(0.5f);
  ctx.SetTemplateVelocity(2, 0, 0);
  const TKZ_Vectorf3 wind{0, 0, 3};
  ctx.SetParameter(kzpWind, &wind);
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.01f);
  const float k = 1.29f * 0.5f;
  EXPECT_NEAR(Head().Acceleration[0], -4 * k * 0.5f / 2, 1e-5f);
  EXPECT_NEAR(Head().Acceleration[2], 9 * k * 0.5f / 2, 1e-5f);
}

// The drag step written out in single precision, operation by operation, in its own order:
// u = Velocity / v and e = wind / W component by component, and
// Acceleration = F + M + u * drag + e * wind summed from the left.
TEST_F(StepTest, DragStepFollowsItsArithmeticBitForBit) {
  struct Start {
    TKZ_Vectorf3 pos, vel, force, extra;
    float mass, resistance;
  };
  uint32_t seed = 2024;
  auto next = [&seed](float lo, float hi) {
    seed = seed * 1664525u + 1013904223u;
    return lo + (hi - lo) * static_cast<float>(seed >> 8) / 16777216.0f;
  };
  TKZ_Magnet magnet;  // a pull that differs per particle, so M takes part in the sum
  magnet.Position = {0, 40, 0};
  magnet.Range = 1000;
  magnet.Strength = 3;
  ctx.AddMagnet(&magnet);
  const float density = 1.29f;
  const TKZ_Vectorf3 wind{0.7f, -0.3f, 1.9f};
  ctx.SetParameter(kzpAirDensity, &density);
  ctx.SetParameter(kzpWind, &wind);
  std::vector<Start> starts;
  for (int i = 0; i < 2000; ++i) {
    Start s{{next(-50, 50), next(-5, 60), next(-50, 50)},
            {next(-30, 30), next(-10, 80), next(-30, 30)},
            {next(-2, 2), next(-12, -8), next(-2, 2)},
            {i % 3 ? 0.0f : next(-5, 5), 0.0f, i % 5 ? 0.0f : next(-5, 5)},
            next(0.2f, 3.0f),
            next(0.0f, 0.2f)};
    if (i % 97 == 0) s.vel = {0, 0, 0};  // no direction of motion: u = 0
    starts.push_back(s);
    ctx.SetTemplateVelocity(s.vel);
    ctx.SetTemplateForce(s.force);
    ctx.SetTemplateMass(s.mass);
    ctx.SetTemplateAirResistance(s.resistance);
    ctx.EmitParticle(s.pos);
    ctx.GetParticles().Tail()->Data.ExtraForce = s.extra;
  }
  const float dt = 0.0137f;
  ctx.Process(dt);

  auto length = [](const TKZ_Vectorf3& a) { return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]); };
  const float k = density * 0.5f;
  const float W = length(wind);
  int differing = 0;
  for (PKZ_ListNode n = ctx.GetParticles().Head(); n; n = ctx.GetParticles().NextOf(n)) {
    const Start& s = starts[static_cast<size_t>(n->Index)];
    const TKZ_ParticleData& p = n->Data;
    const float m = s.mass;
    const float r = s.resistance;
    const float v = length(s.vel);
    float drag = -(v * v) * k * r / m;
    if (-drag * dt > v) drag = -v / (2 * dt);
    const float windf = W * W * k * r / m;
    bool same = true;
    for (int i = 0; i < 3; ++i) {
      const float F = (s.force[i] + s.extra[i]) / m;
      const float M = p.MagnetForce[i] / m;
      const float u = v != 0 ? s.vel[i] / v : 0.0f;
      const float e = wind[i] / W;
      const float a = F + M + u * drag + e * windf;
      const float vel = s.vel[i] + a * dt;
      same = same && p.Acceleration[i] == a && p.Velocity[i] == vel && p.Position[i] == s.pos[i] + vel * dt;
    }
    differing += !same;
  }
  EXPECT_EQ(differing, 0);
  ctx.RemoveAllMagnets();
}

TEST_F(StepTest, MagnetsPullInTheDragModeOnly) {
  Hooks h;
  Attach(ctx, h);
  TKZ_Magnet near_magnet, far_magnet;
  near_magnet.Position = {2, 0, 0};
  near_magnet.Range = 5;
  near_magnet.Strength = 10;
  near_magnet.Mode = 4;
  far_magnet.Position = {100, 0, 0};
  far_magnet.Range = 1;
  far_magnet.Strength = 10;
  ctx.AddMagnet(&near_magnet);
  ctx.AddMagnet(&far_magnet);
  ctx.SetTemplateMass(2);
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.001f);
  // Gravity-like: the acceleration is Strength * G / d^2, whatever the mass.
  EXPECT_NEAR(Head().Acceleration[0], 10 * 0.0667258f / 4, 1e-6f);
  EXPECT_NEAR(Head().MagnetForce[0], 0.333629f, 1e-5f);
  EXPECT_EQ(h.gravitated, 1);  // only the magnet whose pull is not zero

  ctx.ClearParticles();
  ctx.SetPhysicsMode(kzpmSimple);
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.001f);
  EXPECT_EQ(Head().Acceleration, (TKZ_Vectorf3{0, 0, 0}));
  EXPECT_EQ(h.gravitated, 1);
}

TEST_F(StepTest, QuadAngleStartsAgainAtZeroPastTwoPi) {
  ctx.SetTemplateLifetime(100);
  ctx.EmitParticle(0, 0, 0);
  Head().AngularVelocity = 3;
  ctx.Process(2.0f);
  EXPECT_EQ(Head().Angle, 6.0f);
  // Turned corners: the offset (-0.5, -0.5) mirrored-turned by 6 rad.
  const float c = std::cos(6.0f), s = std::sin(6.0f);
  EXPECT_NEAR(Head().Trail[0].Vertices[0][0], (-0.5f * c - 0.5f * s) * 0.1f, 1e-6f);
  EXPECT_NEAR(Head().Trail[0].Vertices[0][1], (-0.5f * s + 0.5f * c) * 0.1f, 1e-6f);
  ctx.Process(1.0f);  // 9 >= 2 pi: back to 0, not 9 - 2 pi
  EXPECT_EQ(Head().Angle, 0.0f);
  Head().AngularVelocity = -1;
  ctx.Process(1.0f);
  EXPECT_EQ(Head().Angle, -1.0f);  // negative angles are not wrapped
}

TEST_F(StepTest, CullingSkipsTheOutputButNotTheStep) {
  Hooks h;
  Attach(ctx, h);
  // Identity matrices: the view is the cube [-1, 1]^3.
  ctx.EmitParticle(0, 0, 0);
  ctx.EmitParticle(5, 0, 0);
  ctx.EmitParticle(1.04f, 0, 0);  // its sphere (radius ~0.07) still reaches in
  ctx.Process(0.5f);
  EXPECT_EQ(ctx.GetVertexArray().Count, 8u);
  EXPECT_EQ(h.steps, 3);
  EXPECT_FLOAT_EQ(ctx.GetParticles().Node(1)->Data.Age, 0.05f);

  ctx.Disable(kzcFrustumCulling);
  fake.Clear();
  ctx.Process(0.5f);
  EXPECT_EQ(ctx.GetVertexArray().Count, 12u);
  EXPECT_EQ(fake.Count("glGetFloatv"), 1u);  // no frustum update without culling

  // Storage mode 2 (and any unknown mode) steps without output.
  ctx.SetStorageMode(kzsNone);
  ctx.Process(0.5f);
  ctx.SetStorageMode(77);
  ctx.Process(0.5f);
  EXPECT_EQ(h.steps, 12);
}

TEST_F(StepTest, DepthSortOrdersTheChainFromTheCameraPoint) {
  ctx.Enable(kzcDepthSort);
  ctx.Disable(kzcFrustumCulling);
  // Camera point = inverse rotation times the translation: (0, 0, -10) here.
  fake.modelview[14] = -10;
  for (float z : {3.0f, -9.0f, 20.0f, 0.0f, -5.0f, -9.0f, 8.0f}) {
    ctx.SetTemplateVelocity(z, 0, 0);  // remembers the emission order in x... kept at rest below
    ctx.EmitParticle(0, 0, z);
  }
  for (PKZ_ListNode n = ctx.GetParticles().Head(); n; n = ctx.GetParticles().NextOf(n)) n->Data.Velocity = {0, 0, 0};
  ctx.Process(0.1f);
  std::vector<float> dist;
  for (PKZ_ListNode n = ctx.GetParticles().Head(); n; n = ctx.GetParticles().NextOf(n))
    dist.push_back(std::fabs(n->Data.Position[2] + 10));
  EXPECT_EQ(dist, (std::vector<float>{1, 1, 5, 10, 13, 18, 30}));
  EXPECT_EQ(ctx.GetParticleCount(), 7u);
  // Every particle was stepped exactly once despite the moves.
  for (PKZ_ListNode n = ctx.GetParticles().Head(); n; n = ctx.GetParticles().NextOf(n))
    EXPECT_FLOAT_EQ(n->Data.Age, 0.01f);
  // Ties keep their order: the first of the two at z = -9 stays first.
  EXPECT_EQ(ctx.GetParticles().Head()->Index, 1);
}

// Moves every third particle it steps far along z, as a step hook may do with its own particle.
struct Teleporter {
  int steps = 0;
  void OnStep(PKZ_ParticleData p, TKZ_Context*) {
    if (++steps % 3 == 0) p->Position[2] += (steps % 2 ? 25.0f : -25.0f);
  }
};

TEST_F(StepTest, DepthSortKeepsTheWholeChainOrderedThroughCameraMovesHooksDeathsAndBirths) {
  ctx.Enable(kzcDepthSort);
  ctx.Disable(kzcFrustumCulling);
  Teleporter hook;
  ctx.SetTemplateOnStep(TKZ_NotifyEvent::Bind<&Teleporter::OnStep>(&hook));
  uint32_t seed = 7;
  auto next = [&seed](float span) {
    seed = seed * 1103515245u + 12345u;
    return span * static_cast<float>((seed >> 8) & 0xFFFF) / 65535.0f;
  };
  auto emit = [&](int n) {
    for (int i = 0; i < n; ++i) {
      ctx.SetTemplateLifetime(0.05f + next(0.5f));
      ctx.SetTemplateVelocity(next(4) - 2, next(4) - 2, next(4) - 2);
      // Whole numbers, so that equal distances occur.
      ctx.EmitParticle(std::round(next(20) - 10), std::round(next(20) - 10), std::round(next(20) - 10));
    }
  };
  emit(300);
  for (int frame = 0; frame < 40; ++frame) {
    // A camera that moves through the cloud: with the identity rotation its point is the translation.
    const TKZ_Vectorf3 camera{0.5f * static_cast<float>(frame) - 10, 0, static_cast<float>(frame % 7) - 3};
    fake.modelview[12] = camera[0];
    fake.modelview[13] = camera[1];
    fake.modelview[14] = camera[2];
    const int steps_before = hook.steps;
    const uint32_t live_before = ctx.GetParticleCount();
    ctx.Process(0.02f);
    TKZ_LinkedList& l = ctx.GetParticles();
    std::vector<int32_t> forward;
    float last = -1;
    for (PKZ_ListNode n = l.Head(); n; n = l.NextOf(n)) {
      const float d = KZ_LengthVectorf3(KZ_SubVectorf3(n->Data.Position, camera));
      EXPECT_LE(last, d) << "frame " << frame << " at " << forward.size();
      last = d;
      forward.push_back(n->Index);
    }
    std::vector<int32_t> backward;
    for (PKZ_ListNode n = l.Tail(); n; n = l.PrevOf(n)) backward.insert(backward.begin(), n->Index);
    ASSERT_EQ(forward, backward);
    ASSERT_EQ(forward.size(), ctx.GetParticleCount());
    // Every survivor was stepped once, the dead not at all.
    EXPECT_EQ(static_cast<uint32_t>(hook.steps - steps_before), ctx.GetParticleCount());
    EXPECT_LE(ctx.GetParticleCount(), live_before);
    emit(10 + frame % 5);
  }
}

// The walk's moves made node by node on a plain pool: each node first towards the tail (and met
// again later when it moved), else stepped (here: left in place) and then moved towards the head.
std::vector<int32_t> SortedByNodeMoves(const std::vector<TKZ_Vectorf3>& positions, const TKZ_Vectorf3& camera) {
  TKZ_LinkedList list;
  for (const TKZ_Vectorf3& p : positions) list.Add()->Data.Position = p;
  for (int32_t index = list.First; index >= 0;) {
    const int32_t current = index;
    index = list.NextIndex(current);
    if (list.SortTowardsTail(list.Node(current), camera)) continue;
    list.SortTowardsHead(list.Node(current), camera);
  }
  std::vector<int32_t> order;
  for (int32_t i = list.First; i >= 0; i = list.NextIndex(i)) order.push_back(i);
  return order;
}

TEST_F(StepTest, DepthSortOfManyParticlesOutOfOrderEqualsTheNodeByNodeMoves) {
  ctx.Enable(kzcDepthSort);
  ctx.Disable(kzcFrustumCulling);
  ctx.SetTemplateVelocity(0, 0, 0);
  // Camera point (0, 0, 10). A long run moving away from the camera in emission order (what a long
  // step's trail gives), a run moving towards it, whole-number positions with many equal distances,
  // and, in the second case, positions that are not numbers: they rank as the farthest (and do not
  // keep passing each other towards the tail).
  for (const bool with_nan : {false, true}) {
    ctx.ClearParticles();
    ctx.Enable(kzcDepthSort);
    ctx.Disable(kzcFrustumCulling);
    ctx.SetTemplateLifetime(10);
    fake.modelview[14] = 10;
    const TKZ_Vectorf3 camera{0, 0, 10};
    std::vector<TKZ_Vectorf3> positions;
    for (int i = 0; i < 400; ++i) positions.push_back({0, 0, -0.25f * static_cast<float>(i)});
    for (int i = 0; i < 200; ++i) positions.push_back({1, 0, -100 + 0.5f * static_cast<float>(i)});
    uint32_t seed = 11;
    for (int i = 0; i < 300; ++i) {
      seed = seed * 1103515245u + 12345u;
      positions.push_back({static_cast<float>((seed >> 8) % 7) - 3, static_cast<float>((seed >> 12) % 5),
                           static_cast<float>((seed >> 16) % 9) - 4});
    }
    if (with_nan) positions[450] = positions[451] = positions[820] = {std::nanf(""), 0, 0};
    for (const TKZ_Vectorf3& p : positions) ctx.EmitParticle(p);
    ctx.Process(0.01f);
    std::vector<int32_t> order;
    for (PKZ_ListNode n = ctx.GetParticles().Head(); n; n = ctx.GetParticles().NextOf(n)) order.push_back(n->Index);
    EXPECT_EQ(order, SortedByNodeMoves(positions, camera)) << "with_nan " << with_nan;
    std::vector<int32_t> backward;
    for (PKZ_ListNode n = ctx.GetParticles().Tail(); n; n = ctx.GetParticles().PrevOf(n))
      backward.insert(backward.begin(), n->Index);
    EXPECT_EQ(order, backward);
    if (with_nan) {
      EXPECT_TRUE(std::isnan(ctx.GetParticles().Tail()->Data.Position[0]));
    }
  }
}

TEST_F(StepTest, TrailsFollowTheParticle) {
  ctx.Enable(kzcTrails);
  ctx.SetTrailLength(4);
  ctx.Disable(kzcFrustumCulling);
  ctx.SetTemplateSize(3, 0.5f);
  ctx.SetTemplateVelocity(2, 0, 0);
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.1f);
  const TKZ_ParticleData& p = Head();
  ASSERT_EQ(p.Trail.size(), 4u);
  EXPECT_EQ(p.Trail[0].BonePosition, p.Position);
  // Laid out behind the particle at width / 4 and then pulled to one segment (width / 3) apart.
  for (size_t i = 1; i < 4; ++i) {
    const float gap = KZ_LengthVectorf3(KZ_SubVectorf3(p.Trail[i - 1].BonePosition, p.Trail[i].BonePosition));
    EXPECT_NEAR(gap, 1.0f, 1e-5f) << i;
    EXPECT_LT(p.Trail[i].BonePosition[0], p.Trail[i - 1].BonePosition[0]);
  }
  // The ribbon is half the height to each side, across the view axis; texture v runs 0 .. 1.
  EXPECT_NEAR(std::fabs(p.Trail[2].Vertices[1][1] - p.Trail[2].Vertices[0][1]), 0.5f, 1e-5f);
  EXPECT_EQ(p.Trail[2].Vertices[1][2], p.Trail[2].Vertices[0][2]);
  EXPECT_EQ(p.Trail[0].TexCoords[1], (TKZ_Vectorf2{1, 0}));
  EXPECT_GT(p.Trail[3].TexCoords[0][1], p.Trail[1].TexCoords[0][1]);
  EXPECT_EQ(ctx.GetVertexArray().Count, 12u);  // 4 per bone pair
}

TEST_F(StepTest, SteadySortedFramesWithTrailsAllocateNothing) {
  fake.recording = false;
  ctx.Enable(kzcDepthSort);
  ctx.Enable(kzcTrails);
  ctx.SetTrailLength(4);
  ctx.Disable(kzcFrustumCulling);
  uint32_t seed = 7;
  auto next = [&] { return static_cast<float>((seed = seed * 1103515245u + 12345u) >> 20) / 4096.0f - 0.5f; };
  for (int i = 0; i < 2000; ++i) {
    ctx.SetTemplateVelocity(next(), next(), next());
    ctx.EmitParticle(10 * next(), 10 * next(), 10 * next());
  }
  // A camera that moves through the cloud, so that every frame finds the chain out of order.
  auto frame = [&](int n) {
    fake.modelview[12] = static_cast<float>(n % 40) * 0.5f - 10;
    fake.modelview[14] = static_cast<float>(n % 7) - 3;
    ctx.Process(0.02f);
  };
  for (int n = 0; n < 20; ++n) frame(n);
  const uint64_t before = allocation_count();
  for (int n = 20; n < 320; ++n) frame(n);
  EXPECT_EQ(allocation_count() - before, 0u);
  EXPECT_EQ(ctx.GetParticleCount(), 2000u);
  EXPECT_EQ(TKZ_GetLastError(), 0u);
}

namespace {
struct HitTree : CollisionTreeInterface {
  std::vector<int32_t> indices;
  size_t info_size = 0;
  void AttachContext(TKZ_Context*) override {}
  void DetachContext(TKZ_Context*) override {}
  bool TestParticle(PKZ_ParticleData p, int32_t index, TKZ_Context*) override {
    indices.push_back(index);
    info_size = p->CollisionInfo.size();
    p->Velocity = {0, 1, 0};
    return true;
  }
};
}  // namespace

TEST_F(StepTest, CollisionTreesAreAskedThroughTheirInterface) {
  HitTree a, b;
  ctx.AddCollisionTree(&a);
  ctx.AddCollisionTree(&b);
  ctx.SetTemplateVelocity(1, 0, 0);
  ctx.EmitParticle(0, 0, 0);
  ctx.Process(0.5f);
  EXPECT_TRUE(a.indices.empty());  // collisions are off by default
  ctx.Enable(kzcCollisions);
  ctx.Process(0.5f);
  EXPECT_EQ(a.indices, (std::vector<int32_t>{0}));
  EXPECT_EQ(b.indices, (std::vector<int32_t>{1}));
  EXPECT_EQ(a.info_size, 2u);
  // Moved to x = 1 by the drag step, then after each of the two hits by the new velocity * dt.
  EXPECT_NEAR(Head().Position[0], 1.0f, 1e-6f);
  EXPECT_NEAR(Head().Position[1], 1.0f, 1e-6f);
  ctx.RemoveAllCollisionTrees();  // a real tree removes itself when it is freed
}
