#include "engine/collision_primitives.h"

#include <algorithm>
#include <cmath>

namespace {
// A step may overshoot the surface by a hair and still hit it, so that a particle resting on a
// surface or stopping just short of it is not let through by rounding.
bool in_range(float t) { return t >= -0.0003f && t <= 1.0003f; }

// Of the two roots mid ± half of a quadratic along the step, the earlier one inside the step.
bool earliest_root(float mid, float half, float& t) {
  const float t1 = mid + half, t2 = mid - half;
  const bool first = in_range(t1), second = in_range(t2) && (!first || t2 < t1);
  if (!first && !second) return false;
  t = second ? t2 : t1;
  return true;
}

TKZ_Vectorf3 to_tree(const TKZ_Matrixf3& R, const TKZ_Vectorf3& T, const TKZ_Vectorf3& local) {
  return KZ_AddVectorf3(KZ_TransformVectorf3(local, R), T);
}

TKZ_Vectorf3 to_local(const TKZ_Matrixf3& inverse, const TKZ_Vectorf3& T, const TKZ_Vectorf3& p) {
  return KZ_TransformVectorf3(KZ_SubVectorf3(p, T), inverse);
}

void extend(TKZ_Vectorf3& lo, TKZ_Vectorf3& hi, const TKZ_Vectorf3& p) {
  for (int i = 0; i < 3; ++i) {
    if (p[i] < lo[i]) lo[i] = p[i];
    if (p[i] > hi[i]) hi[i] = p[i];
  }
}

// The bounds of the eight corners (+-e0, +-e1, +-e2) of a local box taken to tree space.
void local_box_bounds(const TKZ_Vectorf3& e, const TKZ_Matrixf3& R, const TKZ_Vectorf3& T, TKZ_Vectorf3& lo,
                      TKZ_Vectorf3& hi) {
  for (int c = 0; c < 8; ++c) {
    const TKZ_Vectorf3 corner = {(c & 1) ? e[0] : -e[0], (c & 2) ? e[1] : -e[1], (c & 4) ? e[2] : -e[2]};
    const TKZ_Vectorf3 p = to_tree(R, T, corner);
    if (c == 0) {
      lo = hi = p;
    } else {
      extend(lo, hi, p);
    }
  }
}

struct Frame {
  TKZ_Matrixf3 R;
  TKZ_Matrixf3 inverse;
  TKZ_Vectorf3 T;
};

Frame split(const TKZ_Matrixf4& M) {
  Frame f;
  KZ_SplitMatrixf4(M, f.R, f.T);
  f.inverse = f.R;
  KZ_InvertMatrixf3(f.inverse);
  return f;
}
}  // namespace

// ---- Face ----

TKZ_Col_Face::TKZ_Col_Face(const TKZ_Vectorf3& p, const TKZ_Vectorf3& q, const TKZ_Vectorf3& r,
                           const TKZ_Matrixf4& M) {
  TKZ_Matrixf3 R;
  TKZ_Vectorf3 T;
  KZ_SplitMatrixf4(M, R, T);
  Origin = to_tree(R, T, q);
  const TKZ_Vectorf3 P1 = to_tree(R, T, p);
  const TKZ_Vectorf3 P2 = to_tree(R, T, r);
  Edge1 = KZ_SubVectorf3(P1, Origin);
  Edge2 = KZ_SubVectorf3(P2, Origin);
  const TKZ_Vectorf3 cross = KZ_CrossVectorf3(Edge1, Edge2);
  Normal = KZ_NormalizeVectorf3(cross);
  BoxMin = BoxMax = P1;
  extend(BoxMin, BoxMax, Origin);
  extend(BoxMin, BoxMax, P2);

  // The hit point is solved on the two axes other than the one the face is steepest along: there the
  // projected triangle is never flat, whatever the direction of its edges.
  int32_t steep = 0;
  for (int32_t i = 1; i < 3; ++i)
    if (std::fabs(cross[static_cast<size_t>(i)]) > std::fabs(cross[static_cast<size_t>(steep)])) steep = i;
  if (!(std::fabs(cross[static_cast<size_t>(steep)]) > 0.0f)) return;  // vertices on one line, or not numbers
  Axis1 = steep == 0 ? 1 : 0;
  Axis2 = steep == 2 ? 1 : 2;
  const size_t i = static_cast<size_t>(Axis1);
  const size_t j = static_cast<size_t>(Axis2);
  const float det = Edge1[i] * Edge2[j] - Edge1[j] * Edge2[i];
  if (det != 0.0f) InvDeterminant = 1.0f / det;
}

bool TKZ_Col_Face::Collide(const TKZ_Vectorf3& OldPos, const TKZ_Vectorf3& NewPos) {
  if (InvDeterminant == 0.0f) return false;
  const TKZ_Vectorf3 D = KZ_SubVectorf3(NewPos, OldPos);
  const float den = KZ_DotVectorf3(Normal, D);
  if (den == 0.0f) return false;  // the path runs parallel to the face
  const float t = (KZ_DotVectorf3(Normal, Origin) - KZ_DotVectorf3(Normal, OldPos)) / den;
  if (!in_range(t)) return false;
  Contact = KZ_AddVectorf3(OldPos, KZ_ScaleVectorf3(D, t));
  // Contact - Origin = u * Edge1 + v * Edge2, solved on the two projection axes.
  const size_t i = static_cast<size_t>(Axis1);
  const size_t j = static_cast<size_t>(Axis2);
  const float wi = Contact[i] - Origin[i];
  const float wj = Contact[j] - Origin[j];
  const float u = (wi * Edge2[j] - wj * Edge2[i]) * InvDeterminant;
  const float v = (Edge1[i] * wj - Edge1[j] * wi) * InvDeterminant;
  return v >= 0.0f && v <= 1.0f && u >= 0.0f && u <= 1.0f && u + v >= 0.0f && u + v <= 1.0f;
}

// ---- Sphere ----

TKZ_Col_Sphere::TKZ_Col_Sphere(float radius, const TKZ_Matrixf4& M) : Radius(radius) {
  Center = {M.Col3[0], M.Col3[1], M.Col3[2]};
  const TKZ_Vectorf3 r = {radius, radius, radius};
  BoxMin = KZ_SubVectorf3(Center, r);
  BoxMax = KZ_AddVectorf3(Center, r);
}

bool TKZ_Col_Sphere::Collide(const TKZ_Vectorf3& OldPos, const TKZ_Vectorf3& NewPos) {
  // A sphere without a positive radius has no surface to bounce off (and no outward normal).
  if (!(Radius > 0.0f)) return false;
  const TKZ_Vectorf3 A = KZ_SubVectorf3(OldPos, Center);
  const TKZ_Vectorf3 B = KZ_SubVectorf3(NewPos, Center);
  const TKZ_Vectorf3 D = KZ_SubVectorf3(B, A);
  const float dd = KZ_DotVectorf3(D, D);
  if (dd == 0.0f) return false;
  const float p = KZ_DotVectorf3(D, A) / dd;
  const float q = (KZ_DotVectorf3(A, A) - Radius * Radius) / dd;
  const float disc = p * p - q;
  if (!(disc >= 0.0f)) return false;
  float t = 0.0f;
  if (!earliest_root(-p, std::sqrt(disc), t)) return false;
  const TKZ_Vectorf3 c = KZ_AddVectorf3(A, KZ_ScaleVectorf3(D, t));
  Normal = KZ_NormalizeVectorf3(c);
  Contact = KZ_AddVectorf3(c, Center);
  return true;
}

// ---- Cone ----

TKZ_Col_Cone::TKZ_Col_Cone(float bottomRadius, float topRadius, float height, bool closeTop, bool closeBottom,
                           const TKZ_Matrixf4& M)
    : BottomRadius(bottomRadius), TopRadius(topRadius), CloseBottom(closeBottom), CloseTop(closeTop) {
  const Frame f = split(M);
  Rotation = f.R;
  InverseRotation = f.inverse;
  Translation = f.T;
  // A flat cone gets unit height; a negative height means the same cone measured downwards.
  float h = std::fabs(height);
  if (h == 0.0f) h = 1.0f;
  Height = h;
  const float r1 = bottomRadius;
  const float r2 = topRadius;
  const TKZ_Vectorf2 slope = {r2 - r1, h};
  const float c = -h / KZ_LengthVectorf2(slope);
  CosSquared = c * c;
  if (r2 != r1) ApexHeight = -r1 * h / (r2 - r1);
  SideNormal = KZ_NormalizeVectorf2({h, r1 - r2});
  const float m = std::max(r1, r2);
  local_box_bounds({m, h / 2.0f, m}, Rotation, Translation, BoxMin, BoxMax);
}

bool TKZ_Col_Cone::HitSide(const TKZ_Vectorf3& a, const TKZ_Vectorf3& b) {
  // With no positive radius the mantle is a line or a point: nothing to bounce off.
  if (!(std::max(BottomRadius, TopRadius) > 0.0f)) return false;
  const TKZ_Vectorf3 D = KZ_SubVectorf3(b, a);
  TKZ_Vectorf3 P = a;
  P[1] += Height / 2.0f;  // heights from the bottom end
  const float k = CosSquared;
  const float y0 = ApexHeight;
  const bool cylinder = k == 1.0f;
  const float A = cylinder ? D[0] * D[0] + D[2] * D[2] : D[1] * D[1] - k * KZ_DotVectorf3(D, D);
  if (A == 0.0f) return false;
  float beta;
  float gamma;
  if (cylinder) {
    beta = (D[0] * P[0] + D[2] * P[2]) / A;
    gamma = (P[0] * P[0] + P[2] * P[2] - BottomRadius * BottomRadius) / A;
  } else {
    beta = ((P[1] - y0) * D[1] + k * (D[1] * y0 - KZ_DotVectorf3(D, P))) / A;
    gamma = ((P[1] - y0) * (P[1] - y0) + k * (2.0f * P[1] * y0 - y0 * y0 - KZ_DotVectorf3(P, P))) / A;
  }
  const float disc = beta * beta - gamma;
  if (!(disc >= 0.0f)) return false;
  float t = 0.0f;
  if (!earliest_root(-beta, std::sqrt(disc), t)) return false;
  Contact = KZ_AddVectorf3(P, KZ_ScaleVectorf3(D, t));
  if (!(Contact[1] >= 0.0f && Contact[1] <= Height)) return false;
  Contact[1] -= Height / 2.0f;
  const TKZ_Vectorf3 radial = KZ_NormalizeVectorf3({Contact[0], 0.0f, Contact[2]});
  Normal = {radial[0] * SideNormal[0], SideNormal[1], radial[2] * SideNormal[0]};
  return true;
}

bool TKZ_Col_Cone::HitCap(const TKZ_Vectorf3& a, const TKZ_Vectorf3& b, float level, float radius) {
  const TKZ_Vectorf3 a1 = {a[0], a[1] - level, a[2]};
  const TKZ_Vectorf3 b1 = {b[0], b[1] - level, b[2]};
  const TKZ_Vectorf3 D = KZ_SubVectorf3(b1, a1);
  if (D[1] == 0.0f) return false;
  const float t = -a1[1] / D[1];
  const TKZ_Vectorf3 Q = KZ_AddVectorf3(a1, KZ_ScaleVectorf3(D, t));
  if (!(std::sqrt(Q[0] * Q[0] + Q[2] * Q[2]) <= radius && in_range(t))) return false;
  Contact = {Q[0], Q[1] + level, Q[2]};
  return true;
}

bool TKZ_Col_Cone::Collide(const TKZ_Vectorf3& OldPos, const TKZ_Vectorf3& NewPos) {
  const TKZ_Vectorf3 a = to_local(InverseRotation, Translation, OldPos);
  const TKZ_Vectorf3 b = to_local(InverseRotation, Translation, NewPos);
  // The first part that is hit decides, in the order mantle, top, bottom.
  bool hit = HitSide(a, b);
  if (!hit && CloseTop && HitCap(a, b, Height / 2.0f, TopRadius)) {
    Normal = {0.0f, 1.0f, 0.0f};
    hit = true;
  }
  if (!hit && CloseBottom && HitCap(a, b, -Height / 2.0f, BottomRadius)) {
    Normal = {0.0f, -1.0f, 0.0f};
    hit = true;
  }
  if (!hit) return false;
  Normal = KZ_TransformVectorf3(Normal, Rotation);
  Contact = to_tree(Rotation, Translation, Contact);
  return true;
}

// ---- Box ----

TKZ_Col_Cube::TKZ_Col_Cube(float sizeX, float sizeY, float sizeZ, const TKZ_Matrixf4& M) {
  const Frame f = split(M);
  Rotation = f.R;
  InverseRotation = f.inverse;
  Translation = f.T;
  HalfExtents = {sizeX / 2.0f, sizeY / 2.0f, sizeZ / 2.0f};
  local_box_bounds(HalfExtents, Rotation, Translation, BoxMin, BoxMax);
}

TKZ_Vectorf3 TKZ_Col_Cube::FacePoint(const TKZ_Vectorf3& n) const {
  return {n[0] * HalfExtents[0], n[1] * HalfExtents[1], n[2] * HalfExtents[2]};
}

bool TKZ_Col_Cube::HitFace(const TKZ_Vectorf3& a, const TKZ_Vectorf3& D, const TKZ_Vectorf3& n, float& t) const {
  const TKZ_Vectorf3 p = FacePoint(n);
  const float den = KZ_DotVectorf3(D, n);
  if (den == 0.0f) return false;
  t = -(KZ_DotVectorf3(n, a) - KZ_DotVectorf3(n, p)) / den;
  if (!in_range(t)) return false;
  const TKZ_Vectorf3 Q = KZ_AddVectorf3(a, KZ_ScaleVectorf3(D, t));
  for (size_t i = 0; i < 3; ++i)
    if (!(-HalfExtents[i] <= Q[i] && Q[i] <= HalfExtents[i])) return false;
  return true;
}

bool TKZ_Col_Cube::Collide(const TKZ_Vectorf3& OldPos, const TKZ_Vectorf3& NewPos) {
  static const TKZ_Vectorf3 kSides[6] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
  const TKZ_Vectorf3 a = to_local(InverseRotation, Translation, OldPos);
  const TKZ_Vectorf3 b = to_local(InverseRotation, Translation, NewPos);
  const TKZ_Vectorf3 D = KZ_SubVectorf3(b, a);
  float best = 2.0f;
  bool hit = false;
  for (const TKZ_Vectorf3& n : kSides) {
    float t = 0.0f;
    if (!HitFace(a, D, n, t)) continue;
    hit = true;
    best = std::min(best, t);
    if (best == t) Normal = n;  // equal t: the later side gives the normal
  }
  if (!hit) return false;
  Contact = to_tree(Rotation, Translation, KZ_AddVectorf3(a, KZ_ScaleVectorf3(D, best)));
  Normal = KZ_TransformVectorf3(Normal, Rotation);
  return true;
}

// ---- Height map ----

TKZ_Col_Heightmap::TKZ_Col_Heightmap(float sizeX, float heightScale, float sizeZ, int32_t samplesZ,
                                     int32_t samplesX, int32_t layout, const void* data, const TKZ_Matrixf4& M,
                                     TKZ_Material* material, TKZ_MaterialSetCallback callback) {
  if (samplesZ < 2 || samplesX < 2 || !data) return;
  const size_t nx = static_cast<size_t>(samplesX);
  const size_t nz = static_cast<size_t>(samplesZ);
  std::vector<float> H(nx * nz);  // H[x * nz + z]
  if (layout == 1) {
    const float* const* rows = static_cast<const float* const*>(data);
    for (size_t x = 0; x < nx; ++x)
      if (!rows[x]) return;  // a missing row: no usable grid
    for (size_t x = 0; x < nx; ++x)
      for (size_t z = 0; z < nz; ++z) H[x * nz + z] = rows[x][z] * heightScale;
  } else {
    const float* samples = static_cast<const float*>(data);
    for (size_t k = 0; k < nx * nz; ++k) H[k] = samples[k] * heightScale;
  }

  Material = material;
  if (!callback.Assigned()) callback = TKZ_MaterialSetCallback::Bind<&TKZ_Col_Heightmap::OwnMaterial>(this);
  CellCountZ = samplesZ - 1;
  CellCountX = samplesX - 1;
  Size = {sizeX, sizeZ};
  const Frame f = split(M);
  Rotation = f.R;
  InverseRotation = f.inverse;
  Translation = f.T;
  Cells.resize(nx - 1);
  for (std::vector<Cell>& column : Cells) column.resize(nz - 1);

  const float dx = sizeX / static_cast<float>(CellCountX);
  const float dz = sizeZ / static_cast<float>(CellCountZ);
  auto G = [&](size_t x, size_t z) -> TKZ_Vectorf3 {
    return {static_cast<float>(x) * dx - sizeX / 2.0f, H[x * nz + z], static_cast<float>(z) * dz - sizeZ / 2.0f};
  };
  bool first = true;
  for (size_t z = 0; z + 1 < nz; ++z) {
    for (size_t x = 0; x + 1 < nx; ++x) {
      const TKZ_Vectorf3 a = G(x, z), b = G(x, z + 1), c = G(x + 1, z), d = G(x + 1, z + 1);
      ExtendBox(a, first);
      first = false;
      ExtendBox(b, false);
      ExtendBox(c, false);
      TKZ_Material* cell_material = callback(static_cast<int32_t>(x), static_cast<int32_t>(z));
      // A callback that names no material leaves the cell with the height map's own.
      Material = cell_material ? cell_material : material;
      Cell& cell = Cells[x][z];
      cell[0] = std::make_unique<TKZ_Col_Face>(a, b, c, M);
      cell[0]->Material = Material;
      ExtendBox(c, false);
      ExtendBox(d, false);
      ExtendBox(b, false);
      cell[1] = std::make_unique<TKZ_Col_Face>(c, d, b, M);
      cell[1]->Material = Material;
    }
  }
}

void TKZ_Col_Heightmap::ExtendBox(const TKZ_Vectorf3& local, bool first) {
  const TKZ_Vectorf3 p = to_tree(Rotation, Translation, local);
  if (first) {
    BoxMin = BoxMax = p;
  } else {
    extend(BoxMin, BoxMax, p);
  }
}

TKZ_Material* TKZ_Col_Heightmap::OwnMaterial(int32_t, int32_t) { return Material; }

bool TKZ_Col_Heightmap::Collide(const TKZ_Vectorf3& OldPos, const TKZ_Vectorf3& NewPos) {
  if (Cells.empty()) return false;
  const TKZ_Vectorf3 a = to_local(InverseRotation, Translation, OldPos);
  // The cell under the old position; rounding toward zero, so less than a cell below the lower edge
  // still selects cell 0. Anything outside (or not a number) selects none.
  const float fx = static_cast<float>(CellCountX) * ((a[0] + Size[0] / 2.0f) / Size[0]);
  const float fz = static_cast<float>(CellCountZ) * ((a[2] + Size[1] / 2.0f) / Size[1]);
  if (!(fx > -1.0f && fx < static_cast<float>(CellCountX))) return false;
  if (!(fz > -1.0f && fz < static_cast<float>(CellCountZ))) return false;
  const size_t cx = static_cast<size_t>(static_cast<int32_t>(fx));
  const size_t cz = static_cast<size_t>(static_cast<int32_t>(fz));
  for (const std::unique_ptr<TKZ_Col_Face>& face : Cells[cx][cz]) {
    if (face->Collide(OldPos, NewPos)) {
      Material = face->Material;
      Normal = face->Normal;
      Contact = face->Contact;
      return true;
    }
  }
  return false;
}
