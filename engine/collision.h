#pragma once
// The collision tree: a set of solid shapes (faces, spheres, cones, boxes, height maps) indexed by
// their bounding boxes in one segment tree per axis. A particle context hands it each particle's
// step; the tree tests the step against the shapes near the particle's old position, mirrors the
// velocity at the first surface hit, scales it by the two materials, moves the particle to the
// contact point and calls the particle's collision hook. It reports nothing: no error code, no log.
//
// A context lists the tree without owning it; the tree records every context that lists it and takes
// itself out of all of them when it is freed.
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/binary_trees.h"
#include "engine/collision_types.h"
#include "engine/delegate.h"
#include "engine/vectors.h"

// Asked by a height map once per grid cell (x index, z index) for the cell's material.
using TKZ_MaterialSetCallback = KZ_Callback<TKZ_Material*, int32_t, int32_t>;

class TKZ_CollisionTree : public CollisionTreeInterface {
 public:
  TKZ_CollisionTree();
  // Frees the primitives and takes the tree out of every context that lists it.
  ~TKZ_CollisionTree() override;
  TKZ_CollisionTree(const TKZ_CollisionTree&) = delete;
  TKZ_CollisionTree& operator=(const TKZ_CollisionTree&) = delete;

  // ---- Placement ----
  // The transform given to every primitive created from now on (places it in tree space).
  void SetTransform(const TKZ_Matrixf4& M);
  // Tree space to world space. Rebuild resets it, so set it after the last Rebuild.
  void SetPlacement(const TKZ_Matrixf4& M);
  // The material of every primitive added from now on; nullptr selects the default material again.
  void SetMaterial(TKZ_Material* m);

  // ---- Primitives (tested only after the next Rebuild) ----
  void AddSphere(float radius);
  void AddCube(float sizeX, float sizeY, float sizeZ);
  void AddCone(float bottomRadius, float topRadius, float height, bool closeTop, bool closeBottom);
  // nz samples along z and nx along x; layout 1: `data` is an array of nx pointers to nz floats each,
  // otherwise nx * nz floats one x row after another.
  void AddHeightmap(float sizeX, float heightScale, float sizeZ, int32_t samplesZ, int32_t samplesX, int32_t layout,
                    const void* data, TKZ_MaterialSetCallback callback = {});
  // Takes ownership of a primitive made by the caller (nullptr is ignored).
  void AddPrimitive(std::unique_ptr<TKZ_CollisionPrimitive> primitive);

  // ---- Faces, fed vertex by vertex ----
  // Modes: 0 triangle list, 1 triangle strip, 2 quads, 3 triangle fan; other modes take no vertices.
  void BeginFaces(int32_t mode);
  void EndFaces();
  void AddFace(const TKZ_Vectorf3& v);
  void AddFace(float x, float y, float z);

  // ---- Index and drawing ----
  // Indexes the current primitives and resets the placement. Cached lookups of the particles of every
  // context that lists the tree are emptied, because they point into the replaced index.
  void Rebuild();
  // Every primitive's (enlarged) bounding box as lines, in world space.
  void DrawDebug();

  // ---- What a particle context calls ----
  void AttachContext(TKZ_Context* context) override;
  void DetachContext(TKZ_Context* context) override;
  bool TestParticle(PKZ_ParticleData particle, int32_t index, TKZ_Context* context) override;
  // Recomputes the candidate list of the particle's entry `index` from its three cached leaves.
  void UpdateCandidates(PKZ_ParticleData particle, int32_t index);

  std::unique_ptr<TSegmentTree> XTree;  // none until the first Rebuild
  std::unique_ptr<TSegmentTree> YTree;
  std::unique_ptr<TSegmentTree> ZTree;
  std::vector<std::unique_ptr<TKZ_CollisionPrimitive>> Primitives;
  std::vector<TKZ_Context*> Contexts;  // not owned
  TKZ_Vectorf3 FaceVertices[3] = {};
  int32_t FaceVertexCount = 0;
  int32_t FaceMode = 0;
  TKZ_Matrixf3 PlacementRotation{};
  TKZ_Matrixf3 InversePlacementRotation{};
  TKZ_Matrixf4 BuildTransform{};
  TKZ_Vectorf3 PlacementTranslation{};
  // false: a step is answered by the first candidate hit (in index order); true: by all of them.
  bool TestAllCandidates = false;
  // Margin added to every primitive's bounding box, and the snapping tolerance of the index.
  float Tolerance = 0.3f;
  TKZ_Material* CurrentMaterial = nullptr;  // never nullptr
  std::unique_ptr<TKZ_Material> DefaultMaterial;
  // Names the current index among every index built in the process (0: none yet); a particle's
  // cached leaves are used only when they carry it.
  uint64_t IndexGeneration = 0;

 private:
  void InsertPrimitive(std::unique_ptr<TKZ_CollisionPrimitive> primitive);
  void AddFaceOf(const TKZ_Vectorf3& a, const TKZ_Vectorf3& b, const TKZ_Vectorf3& c);
  void DrawBox(const TKZ_Vectorf3& A, const TKZ_Vectorf3& B);
  void ForgetCachedLeaves();
};
