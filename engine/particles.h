#pragma once
// The particle record, the event types a particle carries, the pooled list in which a context keeps
// its live particles, and the engine's global error code.
//
// The pool never frees a slot while its context lives: released slots go on a stack of free indices
// and are reused, and the live chain links slots by index (-1 for none), so the slot array may be
// reallocated while particles are linked. A pointer to a slot is valid only until the next Add that
// grows the array.
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/collision_types.h"
#include "engine/delegate.h"
#include "engine/vectors.h"

class TKZ_AppearanceModel;
class TKZ_Magnet;

// ---- Error code ----
// One value shared by all engine objects. Engine operations report failure only through it.
enum KzError : uint32_t {
  kKzNoError = 0,
  kKzBadValue = 1,     // an index or value out of range (texture index, mass not above 0)
  kKzBadSelector = 2,  // a capability or parameter code outside the tables
  kKzBusy = 3,         // the context is walking its particles, or a trail length was refused
  kKzBadGrid = 4,      // a texture grid with fewer than one row or column
};

uint32_t TKZ_GetLastError();
// Sets the error code to 0 when `condition` holds and to `code` otherwise; returns `condition`.
bool TKZ_Check(bool condition, uint32_t code);

// ---- Particle record ----
struct TKZ_SkeletonBone {
  TKZ_Vectorf3 Vertices[2];
  TKZ_Vectorf3 Normals[2];
  TKZ_Vectorf2 TexCoords[2];
  TKZ_Vectorf3 BonePosition;
  float Distance;  // along the trail from bone 0
};
using TKZ_Skeleton = std::vector<TKZ_SkeletonBone>;

using TKZ_NotifyEvent = KZ_Delegate<PKZ_ParticleData, TKZ_Context*>;
using TKZ_GravitatedEvent = KZ_Delegate<PKZ_ParticleData, TKZ_Magnet*, TKZ_Context*>;
using TKZ_CollidedEvent = KZ_Delegate<void*, TKZ_CollisionPrimitive*, TKZ_Context*>;

struct TKZ_ParticleData {
  TKZ_Skeleton Trail;                // bones 0 and 1 hold the quad corners; one bone per trail point
  uint32_t TextureCells[2] = {0, 0};  // texture-grid cell of layer 0 and layer 1
  TKZ_AppearanceModel* Appearance = nullptr;  // counted reference
  int32_t KeyframeIndex = 0;          // next keyframe of Appearance
  TKZ_Vectorf4 Color{};
  TKZ_Vectorf2 LayerAlpha{};
  TKZ_Vectorf3 Position{};
  TKZ_Vectorf3 OldPosition{};         // before the last drag step
  TKZ_Vectorf3 Velocity{};
  TKZ_Vectorf3 Force{};
  TKZ_Vectorf3 MagnetForce{};         // the magnets' summed pull in the current step
  TKZ_Vectorf3 ExtraForce{};          // acts for one drag step, then cleared
  TKZ_Vectorf3 Acceleration{};
  TKZ_Vectorf2 Size{};                // width, height
  float Mass = 0.0f;
  float AirResistance = 0.0f;
  float NormalCurvature = 0.0f;
  float AngularVelocity = 0.0f;       // radians per second
  float Angle = 0.0f;                 // radians, kept below 2*pi by the step
  float LifeTime = 0.0f;              // seconds
  float Age = 0.0f;                   // fraction of LifeTime; released once above 1
  void* UserData = nullptr;           // the owner's; the engine never reads it
  TKZ_NotifyEvent OnStep;             // after each step of the particle
  TKZ_NotifyEvent OnRelease;          // when the particle's slot is released
  TKZ_GravitatedEvent OnGravitated;   // for each magnet that pulls the particle in a step
  TKZ_CollidedEvent OnCollided;       // called by a collision tree on a hit
  std::vector<TKZ_CollisionInformation> CollisionInfo;  // one per collision tree of the context
  TKZ_Material* Material = nullptr;   // not owned
};

// The distance by which the depth order ranks a particle. A position that is not a number ranks
// as the farthest: a distance that compares false with everything would let two particles pass each
// other towards the tail for ever.
inline float particle_distance(const TKZ_ParticleData& p, const TKZ_Vectorf3& camera) {
  const float d = KZ_LengthVectorf3(KZ_SubVectorf3(p.Position, camera));
  return d == d ? d : std::numeric_limits<float>::infinity();
}

// ---- Pool ----
// One pool slot. Its links in the live chain are kept apart from it (TKZ_LinkedList::Links), so
// that following the chain and reordering it touch a small array instead of the large records.
struct TKZ_ListNode {
  TKZ_ParticleData Data;
  int32_t Index = -1;  // the slot's own index
};
using PKZ_ListNode = TKZ_ListNode*;

// The neighbours of a slot in the live chain, -1 for none.
struct TKZ_ListLink {
  int32_t Prev = -1;
  int32_t Next = -1;
};

class TKZ_LinkedList {
 public:
  TKZ_LinkedList() = default;
  virtual ~TKZ_LinkedList() = default;
  TKZ_LinkedList(const TKZ_LinkedList&) = delete;
  TKZ_LinkedList& operator=(const TKZ_LinkedList&) = delete;

  // Makes room for `total` slots in all; the lowest new slot is handed out first.
  void Reserve(int32_t total);
  // A new node at the tail: the top of the free stack, or the first of GrowthStep new slots. The
  // record keeps whatever the slot held; the caller overwrites it.
  PKZ_ListNode Add();
  // Joins the neighbours; the node's own links stay as they were.
  void Unlink(PKZ_ListNode node);
  // Unlinks the node and pushes its slot, then calls its release hook (the record is still intact)
  // and drops its appearance model's count, freeing an auto-free model whose count reaches 0. A
  // count already at 0 is left alone and frees nothing.
  void Release(PKZ_ListNode node, TKZ_Context* context);
  // Move the node towards the tail / head to keep the chain ordered by ascending distance from
  // `camera`; true when it moved. Ties stay in place.
  bool SortTowardsTail(PKZ_ListNode node, const TKZ_Vectorf3& camera);
  bool SortTowardsHead(PKZ_ListNode node, const TKZ_Vectorf3& camera);
  // Moves the node at slot `index` to just after the slot `after`, or to the head when `after` is
  // -1; `after` is another live node.
  void MoveAfter(int32_t index, int32_t after);

  PKZ_ListNode Node(int32_t index) { return index < 0 ? nullptr : &Items[static_cast<size_t>(index)]; }
  PKZ_ListNode Head() { return Node(First); }
  PKZ_ListNode Tail() { return Node(Last); }
  PKZ_ListNode NextOf(PKZ_ListNode node) { return Node(NextIndex(IndexOf(node))); }
  PKZ_ListNode PrevOf(PKZ_ListNode node) { return Node(PrevIndex(IndexOf(node))); }
  int32_t NextIndex(int32_t index) const { return Links[static_cast<size_t>(index)].Next; }
  int32_t PrevIndex(int32_t index) const { return Links[static_cast<size_t>(index)].Prev; }

  std::vector<TKZ_ListNode> Items;   // every slot, live and free
  std::vector<TKZ_ListLink> Links;   // the chain links of every slot, beside Items
  std::vector<int32_t> FreeIndices;  // entries 0 .. FreeCount-1 are the free stack, top last
  int32_t First = -1;
  int32_t Last = -1;
  uint32_t Count = 0;
  uint32_t FreeCount = 0;
  uint32_t GrowthStep = 10;  // slots added when a node is needed and the stack is empty

 private:
  TKZ_ListLink& LinkOf(int32_t index) { return Links[static_cast<size_t>(index)]; }
  // The slot of a node by its address, which spares reading the far end of the record for Index.
  int32_t IndexOf(const TKZ_ListNode* node) const { return static_cast<int32_t>(node - Items.data()); }
  // Items and Links grow together; room for both is taken first, so that a failed allocation
  // leaves the pool as it was.
  void GrowSlots(size_t total, size_t free_entries);
  void UnlinkIndex(int32_t index);
  void InsertBefore(int32_t index, int32_t before);
  void InsertAfter(int32_t index, int32_t after);
  float DistanceOf(int32_t index, const TKZ_Vectorf3& camera) const;
  uint32_t Step() const { return GrowthStep > 0 ? GrowthStep : 1; }
};
