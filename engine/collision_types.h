#pragma once
// Where particles meet collision: the material class, the per-particle cache entry of one collision
// tree, the base of the collision primitives, and the three operations of a collision tree that a
// particle context calls. The context sees a tree only through CollisionTreeInterface, so the tree
// can live in its own unit.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/vectors.h"

struct TKZ_ParticleData;
using PKZ_ParticleData = TKZ_ParticleData*;
class TKZ_Context;

// A node of a segment tree (the collision tree keeps one per axis).
struct TSegmentTreeElement;
using PSegmentTreeElement = TSegmentTreeElement*;

class TKZ_Material {
 public:
  explicit TKZ_Material(const std::string& AName) : Name(AName) {}
  virtual ~TKZ_Material() = default;

  // Scales the particle's velocity after a bounce off a primitive carrying this material:
  // factor = 1 - Damping * (particle material's Damping), not below 0. A particle without a
  // material counts as damping 0, so the bounce keeps its speed.
  virtual void Respond(PKZ_ParticleData particle);

  std::string Name;
  float Damping = 0.0f;
};

// One per particle and collision tree, at the tree's index in the context's list of trees. Only the
// tree reads the leaves and candidates; a context only resizes the list and empties entries.
struct TKZ_CollisionInformation {
  PSegmentTreeElement NodeX = nullptr;
  PSegmentTreeElement NodeY = nullptr;
  PSegmentTreeElement NodeZ = nullptr;
  std::vector<int32_t> Candidates;  // ascending primitive indices
  // The index (a tree's build, unique in the process) that the leaves come from; 0 for none. A
  // freed index's memory may be reused by another, so a leaf's address alone does not say whose
  // it is.
  uint64_t Generation = 0;

  void Clear() {
    NodeX = NodeY = NodeZ = nullptr;
    Candidates.clear();
    Generation = 0;
  }
};

// A solid shape of a collision tree. Collide answers whether the straight path from old to new (tree
// space) meets the surface in this step and then leaves Normal and Contact set.
class TKZ_CollisionPrimitive {
 public:
  virtual ~TKZ_CollisionPrimitive() = default;
  virtual bool Collide(const TKZ_Vectorf3& OldPos, const TKZ_Vectorf3& NewPos) = 0;

  TKZ_Vectorf3 BoxMin{};
  TKZ_Vectorf3 BoxMax{};
  TKZ_Material* Material = nullptr;  // not owned
  TKZ_Vectorf3 Normal{};
  TKZ_Vectorf3 Contact{};
};

// What a particle context needs of a collision tree.
class CollisionTreeInterface {
 public:
  virtual ~CollisionTreeInterface() = default;
  // The tree records the context (called when a context adds the tree to its list).
  virtual void AttachContext(TKZ_Context* context) = 0;
  // The tree forgets the context; nothing when it is not recorded.
  virtual void DetachContext(TKZ_Context* context) = 0;
  // Tests the particle's step from OldPosition to Position; true when a primitive was hit. May change
  // the particle's Velocity and Position and call its OnCollided hook. `index` selects the particle's
  // CollisionInfo entry.
  virtual bool TestParticle(PKZ_ParticleData particle, int32_t index, TKZ_Context* context) = 0;
};
