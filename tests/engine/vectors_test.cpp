#include "engine/vectors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "engine/delegate.h"

namespace {

TKZ_Matrixf3 Product3(const TKZ_Matrixf3& a, const TKZ_Matrixf3& b) {
  // (a * b) maps v to a(b v): each column of the product is a applied to b's column.
  return {KZ_TransformVectorf3(b.Col0, a), KZ_TransformVectorf3(b.Col1, a), KZ_TransformVectorf3(b.Col2, a)};
}

TKZ_Matrixf4 Product4(const TKZ_Matrixf4& a, const TKZ_Matrixf4& b) {
  float x[16], y[16], p[16];
  std::memcpy(x, &a, 64);
  std::memcpy(y, &b, 64);
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) {
      float s = 0;
      for (int k = 0; k < 4; ++k) s += x[4 * k + r] * y[4 * c + k];
      p[4 * c + r] = s;
    }
  TKZ_Matrixf4 out;
  std::memcpy(&out, p, 64);
  return out;
}

void ExpectIdentity4(const TKZ_Matrixf4& m, float tol) {
  float x[16];
  std::memcpy(x, &m, 64);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(x[i], (i % 5 == 0) ? 1.0f : 0.0f, tol) << "element " << i;
}

}  // namespace

TEST(Vectors, NormalisationKeepsZeroAndNaNLengthsAndScalesOthers) {
  const TKZ_Vectorf3 zero = KZ_NormalizeVectorf3({0, 0, 0});
  EXPECT_EQ(zero, (TKZ_Vectorf3{0, 0, 0}));
  const TKZ_Vectorf3 n = KZ_NormalizeVectorf3({3, 0, 4});
  EXPECT_FLOAT_EQ(n[0], 0.6f);
  EXPECT_FLOAT_EQ(n[1], 0.0f);
  EXPECT_FLOAT_EQ(n[2], 0.8f);
  EXPECT_FLOAT_EQ(KZ_LengthVectorf2(KZ_NormalizeVectorf2({-5, 12})), 1.0f);
  EXPECT_FLOAT_EQ(KZ_LengthVectorf4(KZ_NormalizeVectorf4({1, 1, 1, 1})), 1.0f);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const TKZ_Vectorf2 kept = KZ_NormalizeVectorf2({nan, 2});
  EXPECT_TRUE(std::isnan(kept[0]));
  EXPECT_EQ(kept[1], 2.0f);  // factor 1, not a NaN spread over every component
}

TEST(Vectors, RotateAboutZIsTheMirroredTurnAndKeepsZ) {
  EXPECT_EQ(KZ_RotateVectorf3Z({1, 2, 3}, 0.0f), (TKZ_Vectorf3{1, -2, 3}));
  const TKZ_Vectorf3 q = KZ_RotateVectorf3Z({1, 0, 7}, 1.57079632679489662f);
  EXPECT_NEAR(q[0], 0.0f, 1e-6f);
  EXPECT_NEAR(q[1], 1.0f, 1e-6f);
  EXPECT_EQ(q[2], 7.0f);
  // A reflection keeps the length.
  const TKZ_Vectorf3 r = KZ_RotateVectorf3Z({0.5f, -0.5f, 0}, 1.234f);
  EXPECT_NEAR(KZ_LengthVectorf3(r), std::sqrt(0.5f), 1e-6f);
}

TEST(Vectors, ArithmeticCrossTransformAndDeterminants) {
  EXPECT_EQ(KZ_CrossVectorf3({1, 0, 0}, {0, 1, 0}), (TKZ_Vectorf3{0, 0, 1}));
  EXPECT_EQ(KZ_CrossVectorf3({0, 1, 0}, {1, 0, 0}), (TKZ_Vectorf3{0, 0, -1}));
  EXPECT_EQ(KZ_SubVectorf4({5, 6, 7, 8}, {1, 2, 3, 4}), (TKZ_Vectorf4{4, 4, 4, 4}));
  EXPECT_EQ(KZ_AddVectorf2({1, 2}, {3, 4}), (TKZ_Vectorf2{4, 6}));
  EXPECT_EQ(KZ_ScaleVectorf3({1, -2, 3}, 2), (TKZ_Vectorf3{2, -4, 6}));
  EXPECT_EQ(KZ_DotVectorf4({1, 2, 3, 4}, {4, 3, 2, 1}), 20.0f);
  TKZ_Vectorf3 dst{};
  KZ_CopyVectorf3({9, 8, 7}, dst);
  EXPECT_EQ(dst, (TKZ_Vectorf3{9, 8, 7}));

  const TKZ_Matrixf3 m{{1, 2, 3}, {4, 5, 6}, {7, 8, 10}};
  EXPECT_EQ(KZ_TransformVectorf3({1, 0, 0}, m), m.Col0);
  EXPECT_EQ(KZ_TransformVectorf3({0, 0, 1}, m), m.Col2);
  TKZ_Matrixf3 id;
  KZ_IdentityMatrixf3(id);
  EXPECT_EQ(KZ_TransformVectorf3({3, -4, 5}, id), (TKZ_Vectorf3{3, -4, 5}));

  EXPECT_EQ(KZ_Determinant2(1, 2, 3, 4), -2.0f);
  EXPECT_EQ(KZ_Determinant3(1, 0, 0, 0, 1, 0, 0, 0, 1), 1.0f);
  EXPECT_EQ(KZ_Determinant3(1, 2, 3, 4, 5, 6, 7, 8, 10), -3.0f);
}

TEST(Vectors, InverseTimesMatrixIsIdentityAndSingularStaysUnchanged) {
  const TKZ_Matrixf3 m{{2, 1, 0}, {-1, 3, 1}, {0.5f, 0, 4}};
  TKZ_Matrixf3 inv = m;
  KZ_InvertMatrixf3(inv);
  const TKZ_Matrixf3 p = Product3(m, inv);
  const TKZ_Matrixf3 q = Product3(inv, m);
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 3; ++r) {
      const TKZ_Vectorf3& pc = c == 0 ? p.Col0 : c == 1 ? p.Col1 : p.Col2;
      const TKZ_Vectorf3& qc = c == 0 ? q.Col0 : c == 1 ? q.Col1 : q.Col2;
      EXPECT_NEAR(pc[r], r == c ? 1.0f : 0.0f, 1e-5f);
      EXPECT_NEAR(qc[r], r == c ? 1.0f : 0.0f, 1e-5f);
    }

  TKZ_Matrixf3 singular{{1, 2, 3}, {2, 4, 6}, {0, 1, 5}};  // second column twice the first
  const TKZ_Matrixf3 before = singular;
  KZ_InvertMatrixf3(singular);
  EXPECT_EQ(std::memcmp(&singular, &before, sizeof before), 0);

  TKZ_Matrixf3 id;
  KZ_IdentityMatrixf3(id);
  KZ_InvertMatrixf3(id);
  EXPECT_EQ(id.Col0, (TKZ_Vectorf3{1, 0, 0}));
  EXPECT_EQ(id.Col2, (TKZ_Vectorf3{0, 0, 1}));

  // A model-view-like matrix: a turn, a scale and a translation, with a non-trivial bottom row too.
  const TKZ_Matrixf4 m4{{0.8f, 0.6f, 0, 0.1f}, {-0.6f, 0.8f, 0, 0}, {0, 0, 2, 0.2f}, {5, -3, 10, 1}};
  TKZ_Matrixf4 inv4 = m4;
  KZ_InvertMatrixf4(inv4);
  ExpectIdentity4(Product4(m4, inv4), 1e-5f);
  ExpectIdentity4(Product4(inv4, m4), 1e-5f);

  TKZ_Matrixf4 singular4{{1, 2, 3, 4}, {2, 4, 6, 8}, {0, 1, 0, 0}, {0, 0, 0, 1}};
  const TKZ_Matrixf4 before4 = singular4;
  KZ_InvertMatrixf4(singular4);
  EXPECT_EQ(std::memcmp(&singular4, &before4, sizeof before4), 0);

  TKZ_Matrixf4 id4;
  KZ_IdentityMatrixf4(id4);
  KZ_InvertMatrixf4(id4);
  ExpectIdentity4(id4, 0.0f);
}

TEST(Vectors, SplitTakesTheTranslationFromGLElements12To14) {
  float gl_order[16];
  for (int i = 0; i < 16; ++i) gl_order[i] = static_cast<float>(i + 1);
  TKZ_Matrixf4 m;
  std::memcpy(&m, gl_order, 64);
  TKZ_Matrixf3 rot;
  TKZ_Vectorf3 t;
  KZ_SplitMatrixf4(m, rot, t);
  EXPECT_EQ(t, (TKZ_Vectorf3{13, 14, 15}));
  EXPECT_EQ(rot.Col0, (TKZ_Vectorf3{1, 2, 3}));
  EXPECT_EQ(rot.Col1, (TKZ_Vectorf3{5, 6, 7}));
  EXPECT_EQ(rot.Col2, (TKZ_Vectorf3{9, 10, 11}));
}

namespace {
struct Counter {
  int total = 0;
  void Add(int n) { total += n; }
};
}  // namespace

TEST(Delegate, CallsOnlyWhenAssignedAndBindsMembers) {
  static_assert(std::is_trivially_copyable<KZ_Delegate<int>>::value, "copied into every particle");
  KZ_Delegate<int> d;
  EXPECT_FALSE(d.Assigned());
  Counter c;
  d = KZ_Delegate<int>::Bind<&Counter::Add>(&c);
  ASSERT_TRUE(d.Assigned());
  KZ_Delegate<int> copy = d;
  copy(5);
  d(2);
  EXPECT_EQ(c.total, 7);
  EXPECT_TRUE(copy == d);
  d.Clear();
  EXPECT_FALSE(d.Assigned());
}
