// The solid shapes of the collision tree: hits, misses, contact points and normals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/collision.h"
#include "engine/collision_primitives.h"
#include "tests/engine/expect_vector.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

TKZ_Matrixf4 Identity() {
  TKZ_Matrixf4 m;
  KZ_IdentityMatrixf4(m);
  return m;
}

TKZ_Matrixf4 Translate(float x, float y, float z) {
  TKZ_Matrixf4 m = Identity();
  m.Col3 = {x, y, z, 1};
  return m;
}

// A quarter turn about z: local x goes to tree y, local y to tree -x.
TKZ_Matrixf4 QuarterTurnZ(float tx, float ty, float tz) {
  TKZ_Matrixf4 m = Translate(tx, ty, tz);
  m.Col0 = {0, 1, 0, 0};
  m.Col1 = {-1, 0, 0, 0};
  return m;
}

}  // namespace

TEST(ColFace, HitsInsideTheTriangleAndMissesOutsideOrParallel) {
  TKZ_Col_Face f({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, Identity());
  EXPECT_VEC(f.Origin, 1, 0, 0);  // the second vertex
  EXPECT_VEC(f.BoxMin, 0, 0, 0);
  EXPECT_VEC(f.BoxMax, 1, 0, 1);
  ASSERT_TRUE(f.Collide({0.2f, 1, 0.2f}, {0.2f, -1, 0.2f}));
  EXPECT_VEC(f.Contact, 0.2f, 0, 0.2f);
  EXPECT_NEAR(std::fabs(f.Normal[1]), 1.0f, 1e-6);
  EXPECT_TRUE(f.Collide({0.2f, -1, 0.2f}, {0.2f, 1, 0.2f}));  // two-sided
  EXPECT_FALSE(f.Collide({0.8f, 1, 0.8f}, {0.8f, -1, 0.8f}));
  EXPECT_FALSE(f.Collide({0, 1, 0}, {1, 1, 1}));                // parallel
  EXPECT_FALSE(f.Collide({0.2f, 1, 0.2f}, {0.2f, 1, 0.2f}));    // no step
  EXPECT_FALSE(f.Collide({0.2f, 3, 0.2f}, {0.2f, 2, 0.2f}));    // stops short
  TKZ_Col_Face up({0, 0, 0}, {1, 0, 0}, {0, 0, 1}, Translate(0, 2, 0));
  ASSERT_TRUE(up.Collide({0.2f, 3, 0.2f}, {0.2f, 1, 0.2f}));
  EXPECT_VEC(up.Contact, 0.2f, 2, 0.2f);
  EXPECT_FALSE(f.Collide({kNaN, 1, 0.2f}, {0.2f, -1, 0.2f}));
}

TEST(ColFace, ToleranceAtTheEndOfTheStep) {
  TKZ_Col_Face f({-5, 0, -5}, {5, 0, -5}, {0, 0, 5}, Identity());
  // Length-1 steps that end 0.0002 and 0.0004 before the plane.
  EXPECT_TRUE(f.Collide({0, 1.0002f, 0}, {0, 0.0002f, 0}));
  EXPECT_FALSE(f.Collide({0, 1.0004f, 0}, {0, 0.0004f, 0}));
}

// Faces whose edges run along the axes the hit point is solved on: the hit must still be bounded by
// the triangle, not by a strip through it.
TEST(ColFace, EdgesAlongAnAxisStillBoundTheHit) {
  // Edge1 (1, 1, 0), Edge2 (1, 0, 0), in the plane z = 0.
  TKZ_Col_Face f({1, 1, 0}, {0, 0, 0}, {1, 0, 0}, Identity());
  EXPECT_TRUE(f.Collide({0.7f, 0.3f, 1}, {0.7f, 0.3f, -1}));
  EXPECT_FALSE(f.Collide({0.5f, 1.2f, 1}, {0.5f, 1.2f, -1}));
  EXPECT_FALSE(f.Collide({0.5f, -0.2f, 1}, {0.5f, -0.2f, -1}));
  // Edge1 (1, 1, 0), Edge2 (1, 1, 1): the plane x = y; flat when projected on x and y.
  TKZ_Col_Face g({1, 1, 0}, {0, 0, 0}, {1, 1, 1}, Identity());
  ASSERT_TRUE(g.Collide({1, 0, 0.25f}, {0, 1, 0.25f}));
  EXPECT_VEC(g.Contact, 0.5f, 0.5f, 0.25f);
  EXPECT_FALSE(g.Collide({1, 0, 1.5f}, {0, 1, 1.5f}));
}

TEST(ColFace, DegenerateFacesNeverHit) {
  TKZ_Col_Face line({0, 0, 0}, {1, 1, 1}, {2, 2, 2}, Identity());
  EXPECT_FALSE(line.Collide({1, 5, 1}, {1, -5, 1}));
  EXPECT_FALSE(line.Collide({0, 1, 1}, {2, 1, 1}));
  TKZ_Col_Face point({3, 3, 3}, {3, 3, 3}, {3, 3, 3}, Identity());
  EXPECT_FALSE(point.Collide({3, 5, 3}, {3, 0, 3}));
  TKZ_Col_Face bad({kNaN, 0, 0}, {1, 0, 0}, {0, 0, 1}, Identity());
  EXPECT_FALSE(bad.Collide({0.2f, 1, 0.2f}, {0.2f, -1, 0.2f}));
}

TEST(ColSphere, EntryExitPointsAndNormals) {
  TKZ_Col_Sphere s(1, Identity());
  EXPECT_VEC(s.BoxMin, -1, -1, -1);
  ASSERT_TRUE(s.Collide({0, 2, 0}, {0, 0, 0}));
  EXPECT_VEC(s.Contact, 0, 1, 0);
  EXPECT_VEC(s.Normal, 0, 1, 0);
  ASSERT_TRUE(s.Collide({0, 0, 0}, {0, 2, 0}));  // from inside: the exit point
  EXPECT_VEC(s.Contact, 0, 1, 0);
  ASSERT_TRUE(s.Collide({-3, 0, 0}, {3, 0, 0}));  // through: the entry point
  EXPECT_VEC(s.Contact, -1, 0, 0);
  EXPECT_VEC(s.Normal, -1, 0, 0);
  EXPECT_FALSE(s.Collide({0, 3, 0}, {0, 2, 0}));
  EXPECT_FALSE(s.Collide({2, 2, 0}, {2, -2, 0}));
  EXPECT_FALSE(s.Collide({0, 2, 0}, {0, 2, 0}));

  TKZ_Col_Sphere moved(0.5f, Translate(10, 0, 0));
  ASSERT_TRUE(moved.Collide({10, 2, 0}, {10, 0, 0}));
  EXPECT_VEC(moved.Contact, 10, 0.5f, 0);
}

TEST(ColSphere, ZeroNegativeOrMissingRadiusNeverHits) {
  for (float r : {0.0f, -1.0f, kNaN}) {
    TKZ_Col_Sphere s(r, Identity());
    EXPECT_FALSE(s.Collide({0, 2, 0}, {0, -2, 0})) << r;
  }
}

TEST(ColCone, CylinderMantleAndDiscs) {
  TKZ_Col_Cone open(1, 1, 2, false, false, Identity());
  EXPECT_FLOAT_EQ(open.CosSquared, 1.0f);
  EXPECT_VEC(open.BoxMin, -1, -1, -1);
  EXPECT_VEC(open.BoxMax, 1, 1, 1);
  ASSERT_TRUE(open.Collide({2, 0, 0}, {0, 0, 0}));
  EXPECT_VEC(open.Contact, 1, 0, 0);
  EXPECT_VEC(open.Normal, 1, 0, 0);
  EXPECT_FALSE(open.Collide({0, 2, 0}, {0, 0, 0}));
  EXPECT_FALSE(open.Collide({2, 1.5f, 0}, {0, 1.5f, 0}));  // above the mantle

  TKZ_Col_Cone top(1, 1, 2, true, false, Identity());
  ASSERT_TRUE(top.Collide({0, 2, 0}, {0, 0, 0}));
  EXPECT_VEC(top.Contact, 0, 1, 0);
  EXPECT_VEC(top.Normal, 0, 1, 0);
  EXPECT_FALSE(top.Collide({0, -2, 0}, {0, 0, 0}));  // the bottom stays open

  TKZ_Col_Cone bottom(1, 1, 2, false, true, Identity());
  ASSERT_TRUE(bottom.Collide({0.5f, -2, 0}, {0.5f, 0, 0}));
  EXPECT_VEC(bottom.Contact, 0.5f, -1, 0);
  EXPECT_VEC(bottom.Normal, 0, -1, 0);
}

TEST(ColCone, ConeMantleNormalLeansWithTheSlope) {
  // Radius 1 at the bottom, 0 at the top, height 1: the mantle leans at 45 degrees.
  TKZ_Col_Cone c(1, 0, 1, false, false, Identity());
  EXPECT_NEAR(c.CosSquared, 0.5f, 1e-6);
  EXPECT_NEAR(c.ApexHeight, 1.0f, 1e-6);
  ASSERT_TRUE(c.Collide({2, 0, 0}, {0, 0, 0}));
  EXPECT_VEC(c.Contact, 0.5f, 0, 0);  // half way up, radius 0.5
  EXPECT_VEC(c.Normal, std::sqrt(0.5f), std::sqrt(0.5f), 0);
  EXPECT_FALSE(c.Collide({2, 0.6f, 2}, {2, 0.6f, -2}));
}

TEST(ColCone, HeightZeroIsOneAndNegativeIsMeasuredDownwards) {
  TKZ_Col_Cone flat(1, 1, 0, true, false, Identity());
  EXPECT_EQ(flat.Height, 1.0f);
  ASSERT_TRUE(flat.Collide({0, 2, 0}, {0, 0, 0}));
  EXPECT_VEC(flat.Contact, 0, 0.5f, 0);
  TKZ_Col_Cone down(1, 1, -2, false, false, Identity());
  EXPECT_EQ(down.Height, 2.0f);
  EXPECT_TRUE(down.Collide({2, 0.5f, 0}, {0, 0.5f, 0}));
}

TEST(ColCone, ThinOrBrokenConesNeverCrashOrHit) {
  TKZ_Col_Cone line(0, 0, 2, true, true, Identity());
  EXPECT_FALSE(line.Collide({1, 0, 0}, {-1, 0, 0}));  // straight through the axis
  TKZ_Col_Cone bad(kNaN, kNaN, 2, true, true, Identity());
  EXPECT_FALSE(bad.Collide({2, 0, 0}, {0, 0, 0}));
  EXPECT_FALSE(bad.Collide({0, 2, 0}, {0, -2, 0}));
}

TEST(ColCone, TheMatrixTurnsAndMovesTheCone) {
  // The cylinder's axis along tree x, centred at (5, 0, 0).
  TKZ_Col_Cone c(1, 1, 2, true, true, QuarterTurnZ(5, 0, 0));
  ASSERT_TRUE(c.Collide({5, 3, 0}, {5, 0, 0}));  // local +x, the mantle
  EXPECT_VEC(c.Contact, 5, 1, 0);
  EXPECT_VEC(c.Normal, 0, 1, 0);
  ASSERT_TRUE(c.Collide({3, 0, 0}, {5, 0, 0}));  // the top disc (local +y = tree -x)
  EXPECT_VEC(c.Contact, 4, 0, 0);
  EXPECT_VEC(c.Normal, -1, 0, 0);
}

TEST(ColCube, SidesContactsAndNormals) {
  TKZ_Col_Cube b(2, 2, 2, Identity());
  EXPECT_VEC(b.BoxMin, -1, -1, -1);
  ASSERT_TRUE(b.Collide({0, 3, 0}, {0, 0, 0}));
  EXPECT_VEC(b.Contact, 0, 1, 0);
  EXPECT_VEC(b.Normal, 0, 1, 0);
  ASSERT_TRUE(b.Collide({-3, 0.5f, 0.5f}, {0, 0.5f, 0.5f}));
  EXPECT_VEC(b.Contact, -1, 0.5f, 0.5f);
  EXPECT_VEC(b.Normal, -1, 0, 0);
  // Leaving from inside hits the far side.
  ASSERT_TRUE(b.Collide({0, 0, 0}, {0, 0, -3}));
  EXPECT_VEC(b.Contact, 0, 0, -1);
  EXPECT_FALSE(b.Collide({0, 3, 0}, {0, 2, 0}));
  EXPECT_FALSE(b.Collide({1.5f, 3, 0}, {1.5f, -3, 0}));
  EXPECT_FALSE(b.Collide({kNaN, 3, 0}, {0, 0, 0}));
}

TEST(ColCube, TurnedBoxAnswersInTreeSpace) {
  // Local sizes 4 x 2 x 2, local x along tree y.
  TKZ_Col_Cube b(4, 2, 2, QuarterTurnZ(0, 0, 0));
  EXPECT_VEC(b.BoxMin, -1, -2, -1);
  EXPECT_VEC(b.BoxMax, 1, 2, 1);
  ASSERT_TRUE(b.Collide({0, 5, 0}, {0, 0, 0}));
  EXPECT_VEC(b.Contact, 0, 2, 0);
  EXPECT_VEC(b.Normal, 0, 1, 0);
  // A box turned by an odd angle: rounding in the turn must not let a path through its side.
  TKZ_Matrixf4 m = Identity();
  const float c = std::cos(0.3f), s = std::sin(0.3f);
  m.Col0 = {c, s, 0, 0};
  m.Col1 = {-s, c, 0, 0};
  TKZ_Col_Cube r(2, 2, 2, m);
  const TKZ_Matrixf3 R{{c, s, 0}, {-s, c, 0}, {0, 0, 1}};
  for (float k = -0.9f; k <= 0.9f; k += 0.1f) {
    const TKZ_Vectorf3 from = KZ_TransformVectorf3({3, k, 0.3f}, R);
    const TKZ_Vectorf3 side = KZ_TransformVectorf3({1, k, 0.3f}, R);
    ASSERT_TRUE(r.Collide(from, side)) << k;  // the step ends exactly on the side
    EXPECT_NEAR(KZ_DotVectorf3(r.Normal, KZ_TransformVectorf3({1, 0, 0}, R)), 1.0f, 1e-5);
  }
}

TEST(ColHeightmap, FlatGridCellsAndBounds) {
  const float samples[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  TKZ_Material m("ground");
  TKZ_Col_Heightmap h(2, 1, 2, 3, 3, 0, samples, Identity(), &m, {});
  EXPECT_EQ(h.CellCountX, 2);
  EXPECT_EQ(h.CellCountZ, 2);
  ASSERT_EQ(h.Cells.size(), 2u);
  EXPECT_VEC(h.Cells[1][0][0]->BoxMin, 0, 0, -1);
  EXPECT_VEC(h.BoxMin, -1, 0, -1);
  EXPECT_VEC(h.BoxMax, 1, 0, 1);
  EXPECT_EQ(h.Cells[0][0][1]->Material, &m);
  ASSERT_TRUE(h.Collide({0.25f, 1, 0.25f}, {0.25f, -1, 0.25f}));
  EXPECT_VEC(h.Contact, 0.25f, 0, 0.25f);
  EXPECT_NEAR(std::fabs(h.Normal[1]), 1.0f, 1e-6);
  EXPECT_EQ(h.Material, &m);
  // Half a cell beyond the lower edge still selects cell 0; its faces do not reach that far.
  EXPECT_FALSE(h.Collide({-1.5f, 1, 0.25f}, {-0.75f, -1, 0.25f}));
  EXPECT_TRUE(h.Collide({-1.2f, 1, -0.5f}, {-0.6f, -1, -0.5f}));  // crosses into cell 0 over the edge
  EXPECT_FALSE(h.Collide({-2.2f, 1, 0.25f}, {0.25f, -1, 0.25f}));
  EXPECT_FALSE(h.Collide({2.2f, 1, 0.25f}, {0.25f, -1, 0.25f}));
  EXPECT_FALSE(h.Collide({kNaN, 1, 0.25f}, {0.25f, -1, 0.25f}));
}

TEST(ColHeightmap, SampleLayoutsScaleAndUnequalCounts) {
  // nx = 3 samples along x, nz = 2 along z; heights rise along x. x row by x row.
  const float flat[6] = {0, 0, 1, 1, 2, 2};
  TKZ_Col_Heightmap h(4, 0.5f, 1, 2, 3, 0, flat, Identity(), nullptr, {});
  EXPECT_EQ(h.CellCountX, 2);
  EXPECT_EQ(h.CellCountZ, 1);
  ASSERT_EQ(h.Cells.size(), 2u);
  ASSERT_EQ(h.Cells[0].size(), 1u);
  EXPECT_VEC(h.BoxMax, 2, 1, 0.5f);  // top sample 2 scaled by 0.5
  ASSERT_TRUE(h.Collide({1, 5, 0}, {1, -5, 0}));  // half way up the second cell: 1.5 * 0.5
  EXPECT_NEAR(h.Contact[1], 0.75f, 1e-5);
  EXPECT_FALSE(h.Collide({0, 5, 0.9f}, {0, -5, 0.9f}));  // beyond the single z cell

  // The same grid as a list of rows.
  const float r0[2] = {0, 0}, r1[2] = {1, 1}, r2[2] = {2, 2};
  const float* rows[3] = {r0, r1, r2};
  TKZ_Col_Heightmap l(4, 0.5f, 1, 2, 3, 1, rows, Identity(), nullptr, {});
  ASSERT_TRUE(l.Collide({1, 5, 0}, {1, -5, 0}));
  EXPECT_NEAR(l.Contact[1], 0.75f, 1e-5);
}

TEST(ColHeightmap, TooFewSamplesOrNoDataGiveNoCells) {
  const float samples[4] = {0, 0, 0, 0};
  for (auto [nz, nx] : {std::pair<int, int>{1, 4}, {4, 1}, {0, 0}, {-3, 5}}) {
    TKZ_Col_Heightmap h(2, 1, 2, nz, nx, 0, samples, Identity(), nullptr, {});
    EXPECT_TRUE(h.Cells.empty());
    EXPECT_VEC(h.BoxMin, 0, 0, 0);
    EXPECT_FALSE(h.Collide({0, 1, 0}, {0, -1, 0}));
  }
  TKZ_Col_Heightmap none(2, 1, 2, 3, 3, 0, nullptr, Identity(), nullptr, {});
  EXPECT_FALSE(none.Collide({0, 1, 0}, {0, -1, 0}));
  const float* rows[2] = {samples, nullptr};
  TKZ_Col_Heightmap gap(2, 1, 2, 2, 2, 1, rows, Identity(), nullptr, {});
  EXPECT_TRUE(gap.Cells.empty());
  // Zero sizes select no cell rather than a cell from a division by zero.
  TKZ_Col_Heightmap thin(0, 1, 0, 2, 2, 0, samples, Identity(), nullptr, {});
  EXPECT_FALSE(thin.Collide({0, 1, 0}, {0, -1, 0}));
}

namespace {
struct CellMaterials {
  TKZ_Material a{"a"}, b{"b"};
  std::vector<std::pair<int32_t, int32_t>> asked;
  TKZ_Material* For(int32_t x, int32_t z) {
    asked.emplace_back(x, z);
    if (x == 1 && z == 0) return nullptr;  // falls back to the height map's material
    return (x + z) % 2 ? &b : &a;
  }
};
}  // namespace

TEST(ColHeightmap, CallbackGivesEachCellItsMaterial) {
  const float samples[9] = {};
  CellMaterials cm;
  TKZ_Material own("own");
  TKZ_Col_Heightmap h(2, 1, 2, 3, 3, 0, samples, Identity(), &own,
                      TKZ_MaterialSetCallback::Bind<&CellMaterials::For>(&cm));
  const std::vector<std::pair<int32_t, int32_t>> order = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  EXPECT_EQ(cm.asked, order);
  EXPECT_EQ(h.Cells[0][1][0]->Material, &cm.b);
  EXPECT_EQ(h.Cells[0][1][1]->Material, &cm.b);
  EXPECT_EQ(h.Cells[1][0][0]->Material, &own);
  ASSERT_TRUE(h.Collide({-0.5f, 1, 0.5f}, {-0.5f, -1, 0.5f}));
  EXPECT_EQ(h.Material, &cm.b);
  ASSERT_TRUE(h.Collide({0.5f, 1, 0.5f}, {0.5f, -1, 0.5f}));
  EXPECT_EQ(h.Material, &cm.a);
}
