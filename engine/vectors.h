#pragma once
// The engine's small linear algebra: single-precision vectors of 2, 3 and 4 components, 3x3 and
// 4x4 column-major matrices, and free routines on them. Every routine is a pure computation on
// values: no state, no allocation, no error reporting. They run many times per particle per frame,
// so all of them are inline.
#include <array>
#include <cmath>
#include <cstring>

// Index 0 is x. A TKZ_Vectorf4 used as a colour holds red, green, blue, alpha.
using TKZ_Vectorf2 = std::array<float, 2>;
using TKZ_Vectorf3 = std::array<float, 3>;
using TKZ_Vectorf4 = std::array<float, 4>;

// Column-major: the columns are the images of the axes, in the order OpenGL stores its matrices.
// Element k of column i is number 3*i + k (4*i + k) of the record.
struct TKZ_Matrixf3 {
  TKZ_Vectorf3 Col0;
  TKZ_Vectorf3 Col1;
  TKZ_Vectorf3 Col2;
};

// Col3 is the translation (then w). A matrix read from OpenGL is stored number for number.
struct TKZ_Matrixf4 {
  TKZ_Vectorf4 Col0;
  TKZ_Vectorf4 Col1;
  TKZ_Vectorf4 Col2;
  TKZ_Vectorf4 Col3;
};

static_assert(sizeof(TKZ_Vectorf2) == 8 && sizeof(TKZ_Vectorf3) == 12 && sizeof(TKZ_Vectorf4) == 16,
              "vectors are plain arrays of floats");
static_assert(sizeof(TKZ_Matrixf3) == 36 && sizeof(TKZ_Matrixf4) == 64, "matrices are plain arrays of floats");

// ---- Build ----
inline TKZ_Vectorf2 KZ_MakeVectorf2(float x, float y) { return {x, y}; }
inline TKZ_Vectorf3 KZ_MakeVectorf3(float x, float y, float z) { return {x, y, z}; }
inline TKZ_Vectorf4 KZ_MakeVectorf4(float x, float y, float z, float w) { return {x, y, z, w}; }

// ---- Copy ----
inline void KZ_CopyVectorf2(const TKZ_Vectorf2& src, TKZ_Vectorf2& dst) { std::memcpy(dst.data(), src.data(), 8); }
inline void KZ_CopyVectorf3(const TKZ_Vectorf3& src, TKZ_Vectorf3& dst) { std::memcpy(dst.data(), src.data(), 12); }
inline void KZ_CopyVectorf4(const TKZ_Vectorf4& src, TKZ_Vectorf4& dst) { std::memcpy(dst.data(), src.data(), 16); }

// ---- Add / subtract / scale ----
inline TKZ_Vectorf2 KZ_AddVectorf2(const TKZ_Vectorf2& a, const TKZ_Vectorf2& b) { return {a[0] + b[0], a[1] + b[1]}; }
inline TKZ_Vectorf3 KZ_AddVectorf3(const TKZ_Vectorf3& a, const TKZ_Vectorf3& b) {
  return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
inline TKZ_Vectorf4 KZ_AddVectorf4(const TKZ_Vectorf4& a, const TKZ_Vectorf4& b) {
  return {a[0] + b[0], a[1] + b[1], a[2] + b[2], a[3] + b[3]};
}

inline TKZ_Vectorf2 KZ_SubVectorf2(const TKZ_Vectorf2& a, const TKZ_Vectorf2& b) { return {a[0] - b[0], a[1] - b[1]}; }
inline TKZ_Vectorf3 KZ_SubVectorf3(const TKZ_Vectorf3& a, const TKZ_Vectorf3& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
inline TKZ_Vectorf4 KZ_SubVectorf4(const TKZ_Vectorf4& a, const TKZ_Vectorf4& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2], a[3] - b[3]};
}

inline TKZ_Vectorf2 KZ_ScaleVectorf2(const TKZ_Vectorf2& v, float s) { return {v[0] * s, v[1] * s}; }
inline TKZ_Vectorf3 KZ_ScaleVectorf3(const TKZ_Vectorf3& v, float s) { return {v[0] * s, v[1] * s, v[2] * s}; }
inline TKZ_Vectorf4 KZ_ScaleVectorf4(const TKZ_Vectorf4& v, float s) {
  return {v[0] * s, v[1] * s, v[2] * s, v[3] * s};
}

// ---- Dot product and length (summed in index order, single precision) ----
inline float KZ_DotVectorf2(const TKZ_Vectorf2& a, const TKZ_Vectorf2& b) { return a[0] * b[0] + a[1] * b[1]; }
inline float KZ_DotVectorf3(const TKZ_Vectorf3& a, const TKZ_Vectorf3& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
inline float KZ_DotVectorf4(const TKZ_Vectorf4& a, const TKZ_Vectorf4& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
}

inline float KZ_LengthVectorf2(const TKZ_Vectorf2& v) { return std::sqrt(KZ_DotVectorf2(v, v)); }
inline float KZ_LengthVectorf3(const TKZ_Vectorf3& v) { return std::sqrt(KZ_DotVectorf3(v, v)); }
inline float KZ_LengthVectorf4(const TKZ_Vectorf4& v) { return std::sqrt(KZ_DotVectorf4(v, v)); }

// ---- Normalise: a zero (or not-a-number) length leaves the vector as it is ----
inline float kz_normalize_factor(float length) {
  return (length == 0.0f || std::isnan(length)) ? 1.0f : 1.0f / length;
}
inline TKZ_Vectorf2 KZ_NormalizeVectorf2(const TKZ_Vectorf2& v) {
  return KZ_ScaleVectorf2(v, kz_normalize_factor(KZ_LengthVectorf2(v)));
}
inline TKZ_Vectorf3 KZ_NormalizeVectorf3(const TKZ_Vectorf3& v) {
  return KZ_ScaleVectorf3(v, kz_normalize_factor(KZ_LengthVectorf3(v)));
}
inline TKZ_Vectorf4 KZ_NormalizeVectorf4(const TKZ_Vectorf4& v) {
  return KZ_ScaleVectorf4(v, kz_normalize_factor(KZ_LengthVectorf4(v)));
}

// ---- TKZ_Vectorf3 only ----
inline TKZ_Vectorf3 KZ_CrossVectorf3(const TKZ_Vectorf3& a, const TKZ_Vectorf3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// Turns v about z with the matrix [[cos, sin], [sin, -cos]]: a reflection in the line at angle/2,
// not a rotation (angle 0 gives (x, -y, z)). Quad corners are turned with it; the mirroring does not
// show on symmetric sprites. Sine, cosine and the sums are taken in extended precision.
inline TKZ_Vectorf3 KZ_RotateVectorf3Z(const TKZ_Vectorf3& v, float angle) {
  const long double c = std::cos(static_cast<long double>(angle));
  const long double s = std::sin(static_cast<long double>(angle));
  const long double x = v[0];
  const long double y = v[1];
  return {static_cast<float>(x * c + y * s), static_cast<float>(x * s - y * c), v[2]};
}

// v.x*Col0 + v.y*Col1 + v.z*Col2, summed in that order.
inline TKZ_Vectorf3 KZ_TransformVectorf3(const TKZ_Vectorf3& v, const TKZ_Matrixf3& m) {
  return {v[0] * m.Col0[0] + v[1] * m.Col1[0] + v[2] * m.Col2[0],
          v[0] * m.Col0[1] + v[1] * m.Col1[1] + v[2] * m.Col2[1],
          v[0] * m.Col0[2] + v[1] * m.Col1[2] + v[2] * m.Col2[2]};
}

// ---- Determinants ----
// The 2x2 matrix with columns (p, q) and (r, s).
inline float KZ_Determinant2(float p, float q, float r, float s) { return p * s - r * q; }

// The 3x3 matrix with columns u, v, w, expanded along the first component of each column.
inline float KZ_Determinant3(float ux, float uy, float uz, float vx, float vy, float vz, float wx, float wy,
                             float wz) {
  return ux * KZ_Determinant2(vy, vz, wy, wz) - vx * KZ_Determinant2(uy, uz, wy, wz) +
         wx * KZ_Determinant2(uy, uz, vy, vz);
}

// ---- Matrices ----
inline void KZ_IdentityMatrixf3(TKZ_Matrixf3& m) {
  m.Col0 = {1.0f, 0.0f, 0.0f};
  m.Col1 = {0.0f, 1.0f, 0.0f};
  m.Col2 = {0.0f, 0.0f, 1.0f};
}

inline void KZ_IdentityMatrixf4(TKZ_Matrixf4& m) {
  m.Col0 = {1.0f, 0.0f, 0.0f, 0.0f};
  m.Col1 = {0.0f, 1.0f, 0.0f, 0.0f};
  m.Col2 = {0.0f, 0.0f, 1.0f, 0.0f};
  m.Col3 = {0.0f, 0.0f, 0.0f, 1.0f};
}

// The 3x3 part goes to `rotation`, the x, y, z of Col3 to `translation`; the w components are dropped.
inline void KZ_SplitMatrixf4(const TKZ_Matrixf4& m, TKZ_Matrixf3& rotation, TKZ_Vectorf3& translation) {
  rotation.Col0 = {m.Col0[0], m.Col0[1], m.Col0[2]};
  rotation.Col1 = {m.Col1[0], m.Col1[1], m.Col1[2]};
  rotation.Col2 = {m.Col2[0], m.Col2[1], m.Col2[2]};
  translation = {m.Col3[0], m.Col3[1], m.Col3[2]};
}

// Replaces m by its inverse; a singular matrix (determinant 0 or not a number) stays unchanged.
inline void KZ_InvertMatrixf3(TKZ_Matrixf3& matrix) {
  float m[9];
  std::memcpy(m, &matrix, sizeof m);
  const float adj[9] = {m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
                        m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
                        m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
  const float d = KZ_Determinant3(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]);
  if (d == 0.0f || std::isnan(d)) return;
  const float r = 1.0f / d;
  for (int i = 0; i < 9; ++i) m[i] = adj[i] * r;
  std::memcpy(&matrix, m, sizeof m);
}

// Replaces m by its inverse (adjugate over determinant); a singular matrix stays unchanged.
inline void KZ_InvertMatrixf4(TKZ_Matrixf4& matrix) {
  float m[16];
  std::memcpy(m, &matrix, sizeof m);
  // Element (row r, column c) is m[4*c + r]. The cofactor of (r, c) is the signed determinant of the
  // minor without row r and column c; the inverse holds it at (c, r).
  float adj[16];
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      float minor[9];
      int k = 0;
      for (int col = 0; col < 4; ++col) {
        if (col == c) continue;
        for (int row = 0; row < 4; ++row) {
          if (row == r) continue;
          minor[k++] = m[4 * col + row];
        }
      }
      float cof = KZ_Determinant3(minor[0], minor[1], minor[2], minor[3], minor[4], minor[5], minor[6], minor[7],
                                  minor[8]);
      if ((r + c) & 1) cof = -cof;
      adj[4 * r + c] = cof;  // transposed: inverse element (row c, column r)
    }
  }
  // Col0's four numbers are the elements (r, 0); their cofactors sit at adj[4*r + 0].
  const float d = m[0] * adj[0] + m[1] * adj[4] + m[2] * adj[8] + m[3] * adj[12];
  if (d == 0.0f || std::isnan(d)) return;
  const float inv = 1.0f / d;
  for (int i = 0; i < 16; ++i) m[i] = adj[i] * inv;
  std::memcpy(&matrix, m, sizeof m);
}
