#include "engine/frustum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/support/fake_gl.h"

namespace {
// gluPerspective(90, 1, 1, 100): the side planes pass through the eye at 45 degrees.
std::array<float, 16> perspective90() {
  std::array<float, 16> p{};
  p[0] = 1.0f;
  p[5] = 1.0f;
  p[10] = -101.0f / 99.0f;
  p[11] = -1.0f;
  p[14] = -200.0f / 99.0f;
  return p;
}

class FrustumTest : public ::testing::Test {
 protected:
  FakeGL fake;  // identity model-view and projection: the planes bound the cube [-1, 1]^3
  TKZ_Frustum frustum;
};
}  // namespace

TEST_F(FrustumTest, ModuleFrustumStartsZeroWithSpheresInAndBoxesOut) {
  InitContextFrustumModule();
  ASSERT_NE(KZ_ContextFrustum, nullptr);
  EXPECT_TRUE(KZ_ContextFrustum->SphereInFrustum({100.0f, 0.0f, 0.0f}, 0.001f));
  EXPECT_FALSE(KZ_ContextFrustum->BoxInFrustum({-1.0f, -1.0f, -1.0f}, {1.0f, 1.0f, 1.0f}));
  DoneContextFrustumModule();
  EXPECT_EQ(KZ_ContextFrustum, nullptr);
  // Zero matrices served to a new frustum: no change, nothing rebuilt.
  fake.modelview.fill(0.0f);
  fake.projection.fill(0.0f);
  frustum.Calculate();
  EXPECT_EQ(frustum.Planes[kFrustumNear][3], 0.0f);
}

TEST_F(FrustumTest, RebuildsOnlyAfterAMatrixChanged) {
  frustum.Calculate();
  EXPECT_EQ(frustum.Planes[kFrustumRight][0], -1.0f);
  EXPECT_EQ(frustum.Planes[kFrustumRight][3], 1.0f);
  EXPECT_EQ(frustum.Planes[kFrustumNear][2], 1.0f);
  // Scribble over the planes: an unchanged view must leave them alone.
  std::memset(frustum.Planes, 0, sizeof frustum.Planes);
  frustum.Calculate();
  EXPECT_EQ(frustum.Planes[kFrustumRight][0], 0.0f);
  EXPECT_EQ(fake.Count("glGetFloatv"), 4u);

  // One element of the projection changes: all six planes are rebuilt.
  fake.projection[15] = 2.0f;
  frustum.Calculate();
  for (int plane = 0; plane < 6; ++plane) {
    const float* p = frustum.Planes[plane];
    EXPECT_NEAR(std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]), 1.0f, 1e-6f) << "plane " << plane;
    EXPECT_EQ(p[3], 2.0f) << "plane " << plane;
  }
}

TEST_F(FrustumTest, SphereBoundaryComparisons) {
  frustum.Calculate();
  // Signed distance from the right plane x = 1 is exactly -radius: outside.
  EXPECT_FALSE(frustum.SphereInFrustum({2.0f, 0.0f, 0.0f}, 1.0f));
  EXPECT_TRUE(frustum.SphereInFrustum({2.0f, 0.0f, 0.0f}, 1.0001f));
  // Radius 0 with the centre on a plane: 0 <= -0, outside.
  EXPECT_FALSE(frustum.SphereInFrustum({0.0f, 1.0f, 0.0f}, 0.0f));
  EXPECT_TRUE(frustum.SphereInFrustum({0.0f, 0.999f, 0.0f}, 0.0f));
}

TEST_F(FrustumTest, BoxBoundaryComparisons) {
  frustum.Calculate();
  // One face lies on the right plane, the rest beyond it: outside (a corner must be strictly in front).
  EXPECT_FALSE(frustum.BoxInFrustum({1.0f, 0.0f, 0.0f}, {2.0f, 0.5f, 0.5f}));
  EXPECT_TRUE(frustum.BoxInFrustum({0.9f, 0.0f, 0.0f}, {2.0f, 0.5f, 0.5f}));
  // Corners in either order.
  EXPECT_TRUE(frustum.BoxInFrustum({2.0f, 0.5f, 0.5f}, {0.9f, 0.0f, 0.0f}));
  EXPECT_FALSE(frustum.BoxInFrustum({2.0f, 0.5f, 0.5f}, {1.0f, 0.0f, 0.0f}));
  // Zero extent: the single point must be strictly in front of all six planes.
  EXPECT_TRUE(frustum.BoxInFrustum({0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}));
  EXPECT_FALSE(frustum.BoxInFrustum({0.5f, 1.0f, 0.5f}, {0.5f, 1.0f, 0.5f}));
}

TEST_F(FrustumTest, PerspectivePlanesGiveTrueDistancesThroughTheModelView) {
  fake.projection = perspective90();
  frustum.Calculate();
  // (20, 0, -10) lies 10 / sqrt(2) = 7.07 outside the right plane x = -z.
  EXPECT_FALSE(frustum.SphereInFrustum({20.0f, 0.0f, -10.0f}, 7.0f));
  EXPECT_TRUE(frustum.SphereInFrustum({20.0f, 0.0f, -10.0f}, 7.1f));
  EXPECT_FALSE(frustum.SphereInFrustum({0.0f, 0.0f, -0.5f}, 0.4f));  // before the near plane
  EXPECT_TRUE(frustum.SphereInFrustum({0.0f, 0.0f, -99.0f}, 0.1f));
  EXPECT_FALSE(frustum.SphereInFrustum({0.0f, 0.0f, -101.0f}, 0.9f));  // beyond the far plane

  // Move the camera 10 back: the world origin is now 10 in front of it, (20, 0, 0) off to the right.
  fake.modelview[14] = -10.0f;
  frustum.Calculate();
  EXPECT_TRUE(frustum.SphereInFrustum({0.0f, 0.0f, 0.0f}, 0.1f));
  EXPECT_FALSE(frustum.SphereInFrustum({20.0f, 0.0f, 0.0f}, 7.0f));
  EXPECT_TRUE(frustum.SphereInFrustum({20.0f, 0.0f, 0.0f}, 7.1f));
  EXPECT_FALSE(frustum.BoxInFrustum({15.0f, -1.0f, -1.0f}, {20.0f, 1.0f, 1.0f}));
  EXPECT_TRUE(frustum.BoxInFrustum({5.0f, -1.0f, -1.0f}, {20.0f, 1.0f, 1.0f}));
}

TEST_F(FrustumTest, DegenerateProjectionCullsNothingAndDividesByNothing) {
  fake.projection.fill(0.0f);
  frustum.Calculate();
  for (const auto& plane : frustum.Planes) {
    EXPECT_EQ(plane[0], 0.0f);
    EXPECT_EQ(plane[1], 0.0f);
    EXPECT_EQ(plane[2], 0.0f);
    EXPECT_EQ(plane[3], 1.0f);
  }
  EXPECT_TRUE(frustum.SphereInFrustum({1e6f, -1e6f, 3.0f}, 0.0f));
  EXPECT_TRUE(frustum.BoxInFrustum({1e6f, 1e6f, 1e6f}, {1e6f, 1e6f, 1e6f}));
}
