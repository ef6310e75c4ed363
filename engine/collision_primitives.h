#pragma once
// The solid shapes of a collision tree. Each knows its bounding box in tree space and answers whether
// the straight path of a particle from its old to its new position (tree space) meets its surface in
// this step; on a hit it leaves Normal and Contact (tree space) for the caller. A root t of the path
// old + t * (new - old) counts when -0.0003 <= t <= 1.0003. Comparisons with not-a-number values fail,
// so bad input never makes a hit; a degenerate shape simply never reports one.
//
// Cones, boxes and height maps work in their own frame: the constructor's matrix M places the local
// shape in tree space (rotation part R, translation T). Faces and spheres keep tree-space values.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/collision.h"
#include "engine/collision_types.h"
#include "engine/vectors.h"

class TKZ_Col_Face : public TKZ_CollisionPrimitive {
 public:
  // The second vertex is the origin of the two edges; the normal follows the vertex order (the test
  // is two-sided).
  TKZ_Col_Face(const TKZ_Vectorf3& p, const TKZ_Vectorf3& q, const TKZ_Vectorf3& r, const TKZ_Matrixf4& M);
  bool Collide(const TKZ_Vectorf3& OldPos, const TKZ_Vectorf3& NewPos) override;

  TKZ_Vectorf3 Origin{};
  TKZ_Vectorf3 Edge1{};
  TKZ_Vectorf3 Edge2{};
  int32_t Axis1 = 0;  // the two axes the hit point is solved on (0 x, 1 y, 2 z)
  int32_t Axis2 = 0;
  float InvDeterminant = 0.0f;  // of the edges projected on those axes; 0 for a degenerate face
};

class TKZ_Col_Sphere : public TKZ_CollisionPrimitive {
 public:
  // Centred on M's translation; the rotation part is not used.
  TKZ_Col_Sphere(float radius, const TKZ_Matrixf4& M);
  bool Collide(const TKZ_Vectorf3& OldPos, const TKZ_Vectorf3& NewPos) override;

  float Radius = 0.0f;
  TKZ_Vectorf3 Center{};
};

// Local axis y, from y = -Height/2 (BottomRadius) to +Height/2 (TopRadius); equal radii make a
// cylinder. The end discs are solid only when closed.
class TKZ_Col_Cone : public TKZ_CollisionPrimitive {
 public:
  TKZ_Col_Cone(float bottomRadius, float topRadius, float height, bool closeTop, bool closeBottom,
               const TKZ_Matrixf4& M);
  bool Collide(const TKZ_Vectorf3& OldPos, const TKZ_Vectorf3& NewPos) override;

  float BottomRadius = 0.0f;
  float TopRadius = 0.0f;
  float Height = 0.0f;
  float CosSquared = 0.0f;  // squared cosine of the half angle (1 for a cylinder)
  float ApexHeight = 0.0f;  // above the bottom end, where the radius becomes 0
  bool CloseBottom = false;
  bool CloseTop = false;
  TKZ_Vectorf2 SideNormal{};  // radial part, part along the axis
  TKZ_Matrixf3 Rotation{};
  TKZ_Matrixf3 InverseRotation{};
  TKZ_Vectorf3 Translation{};

 private:
  bool HitSide(const TKZ_Vectorf3& a, const TKZ_Vectorf3& b);
  bool HitCap(const TKZ_Vectorf3& a, const TKZ_Vectorf3& b, float level, float radius);
};

class TKZ_Col_Cube : public TKZ_CollisionPrimitive {
 public:
  TKZ_Col_Cube(float sizeX, float sizeY, float sizeZ, const TKZ_Matrixf4& M);
  bool Collide(const TKZ_Vectorf3& OldPos, const TKZ_Vectorf3& NewPos) override;

  TKZ_Vectorf3 HalfExtents{};
  TKZ_Matrixf3 Rotation{};
  TKZ_Matrixf3 InverseRotation{};
  TKZ_Vectorf3 Translation{};

 private:
  TKZ_Vectorf3 FacePoint(const TKZ_Vectorf3& n) const;
  bool HitFace(const TKZ_Vectorf3& a, const TKZ_Vectorf3& D, const TKZ_Vectorf3& n, float& t) const;
};

// A grid of nx samples along x and nz along z, spread over the sizes and centred on the local origin,
// heights scaled; each cell is two faces. Only the cell under the old position is tested.
class TKZ_Col_Heightmap : public TKZ_CollisionPrimitive {
 public:
  // layout 1: `data` is an array of nx pointers to nz floats each; otherwise nx * nz floats, x row by
  // x row. Fewer than two samples along an axis, or no data, make a height map without cells.
  // `callback` gives each cell's material; unassigned, every cell gets `material`.
  TKZ_Col_Heightmap(float sizeX, float heightScale, float sizeZ, int32_t samplesZ, int32_t samplesX, int32_t layout,
                    const void* data, const TKZ_Matrixf4& M, TKZ_Material* material,
                    TKZ_MaterialSetCallback callback);
  bool Collide(const TKZ_Vectorf3& OldPos, const TKZ_Vectorf3& NewPos) override;
  // The default cell-material callback: the height map's own material.
  TKZ_Material* OwnMaterial(int32_t AXIndex, int32_t AZIndex);

  using Cell = std::array<std::unique_ptr<TKZ_Col_Face>, 2>;
  std::vector<std::vector<Cell>> Cells;  // [x cell][z cell]
  int32_t CellCountZ = 0;
  int32_t CellCountX = 0;
  TKZ_Vectorf2 Size{};  // extent along x, along z
  TKZ_Matrixf3 Rotation{};
  TKZ_Matrixf3 InverseRotation{};
  TKZ_Vectorf3 Translation{};

 private:
  void ExtendBox(const TKZ_Vectorf3& local, bool first);
};
