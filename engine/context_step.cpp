// The frame step of a particle context: one walk over the live particles that releases the dead
// ones, moves, animates and shapes the others, culls them and writes the visible ones into the
// vertex storage, keeping the chain in depth order on the way.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "engine/appearance.h"
#include "engine/context.h"
#include "engine/frustum.h"
#include "engine/magnets.h"
#include "engine/vertex_storage.h"
#include "framework/gl_binding.h"

namespace {
constexpr float kTwoPi = 6.28318530717958647692f;

// Hints to fetch memory the walk is about to read; the walk is bound by memory latency, not by
// arithmetic, once the particles outgrow the caches. They must be inlined: the compiler takes a call
// that only prefetches for one without effect and drops it.
#if defined(__GNUC__) || defined(__clang__)
#define KZ_PREFETCH(address) __builtin_prefetch(address)
#define KZ_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define KZ_PREFETCH(address) ((void)(address))
#define KZ_ALWAYS_INLINE inline
#endif

// The cache lines of a pool slot that the walk reads: the record up to its step hook (the release
// hook, the owner's fields and the collision state further on are seldom read).
KZ_ALWAYS_INLINE void prefetch_node(const TKZ_ListNode& node) {
  const char* base = reinterpret_cast<const char*>(&node);
  const char* end = reinterpret_cast<const char*>(&node.Data.OnStep + 1);
  for (const char* line = base; line < end; line += 64) KZ_PREFETCH(line);
  KZ_PREFETCH(end - 1);
}
// The bones of a particle (whose header the slot holds).
KZ_ALWAYS_INLINE void prefetch_bones(const TKZ_ListNode& node) {
  const char* bones = reinterpret_cast<const char*>(node.Data.Trail.data());
  const size_t bytes = node.Data.Trail.size() * sizeof(TKZ_SkeletonBone);
  for (size_t offset = 0; offset < bytes; offset += 64) KZ_PREFETCH(bones + offset);
}
}  // namespace

// Puts the particles, listed in the order the walk stepped them, in the order that moving each
// towards the head right after its step leaves them: each goes just behind the last of those before
// it whose distance is not greater than its own, or to the head when there is none. That is a
// stable sort by distance: a merge sort between the two buffers the context keeps, as the library's
// stable sort would take a buffer from the heap at every call.
TKZ_Context::SortedParticle* TKZ_Context::order_front(SortedParticle* front, SortedParticle* spare, size_t count) {
  const auto nearer = [](const SortedParticle& a, const SortedParticle& b) { return a.Distance < b.Distance; };
  size_t in_order = 1;
  while (in_order < count && !nearer(front[in_order], front[in_order - 1])) ++in_order;
  if (in_order >= count) return front;
  // Short runs by insertion, then runs merged pairwise, back and forth between the buffers.
  constexpr size_t kRun = 32;
  for (size_t begin = 0; begin < count; begin += kRun) {
    const size_t end = std::min(count, begin + kRun);
    for (size_t i = begin + 1; i < end; ++i) {
      const SortedParticle item = front[i];
      size_t j = i;
      for (; j > begin && nearer(item, front[j - 1]); --j) front[j] = front[j - 1];
      front[j] = item;
    }
  }
  SortedParticle* from = front;
  SortedParticle* to = spare;
  for (size_t width = kRun; width < count; width *= 2) {
    for (size_t begin = 0; begin < count; begin += 2 * width) {
      const size_t middle = std::min(count, begin + width);
      const size_t end = std::min(count, begin + 2 * width);
      if (middle == end || !nearer(from[middle], from[middle - 1]))
        std::copy(from + begin, from + end, to + begin);
      else
        std::merge(from + begin, from + middle, from + middle, from + end, to + begin, nearer);
    }
    std::swap(from, to);
  }
  return from;
}

// What one Process hands down to every particle.
struct TKZ_Context::Walk {
  float dt = 0.0f;
  TKZ_Vectorf3 camera{};  // the point the depth order is measured from
  TKZ_Vectorf3 right{};   // camera axes: the rows of the view rotation
  TKZ_Vectorf3 up{};
  TKZ_Vectorf3 view{};
};

void TKZ_Context::Process(float dt) {
  if (!TKZ_Check(!Busy, kKzBusy)) return;
  if (Particles->Count >= 1) {
    float modelview[16];
    gl.glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    TKZ_Matrixf4 m;
    std::memcpy(&m, modelview, sizeof m);
    KZ_SplitMatrixf4(m, ViewRotation, ViewTranslation);
    InverseViewRotation = ViewRotation;
    KZ_InvertMatrixf3(InverseViewRotation);
    if (Capabilities[kzcFrustumCulling] && KZ_ContextFrustum) KZ_ContextFrustum->Calculate();

    VectorParameters[kzpCenter - 300] = {0.0f, 0.0f, 0.0f};
    if (PKZ_ListNode head = Particles->Head()) {
      VectorParameters[kzpBoundsMin - 300] = head->Data.Position;
      VectorParameters[kzpBoundsMax - 300] = head->Data.Position;
    }
    Walk walk;
    walk.dt = dt;
    walk.camera = KZ_TransformVectorf3(ViewTranslation, InverseViewRotation);
    const TKZ_Matrixf3& r = ViewRotation;
    walk.right = {r.Col0[0], r.Col1[0], r.Col2[0]};
    walk.up = {r.Col0[1], r.Col1[1], r.Col2[1]};
    walk.view = {r.Col0[2], r.Col1[2], r.Col2[2]};
    // A failed allocation in the walk (a trail or collision cache that grows, or one in a hook)
    // ends it with error 1, like every allocation guard of the context. The node being stepped
    // was still linked and counted, so the pool is whole; the particles after it wait for the
    // next frame, and nothing of this frame is drawn.
    try {
      switch (StorageMode) {
        case kzsBufferObject:
          FillVertexBuffer(walk);
          break;
        case kzsVertexArray:
          FillVertexArray(walk);
          break;
        default:
          // Any other mode steps the particles without output, like kzsNone.
          ProcessParticles(walk, nullptr, 0, 0);
          break;
      }
    } catch (const std::bad_alloc&) {
      WalkFailed();
    } catch (const std::length_error&) {
      WalkFailed();
    }
    if (Particles->Count > 0) {
      TKZ_Vectorf3& center = VectorParameters[kzpCenter - 300];
      const float n = static_cast<float>(Particles->Count);
      center = {center[0] / n, center[1] / n, center[2] / n};
    }
  }
  // Every particle's cached lookups were emptied when the list of trees changed.
  TreesChanged = false;
  // The code is left as the walk left it: a call that a hook made and that was refused reports
  // its failure after Process.
}

uint32_t TKZ_Context::ProcessParticles(const Walk& walk, void* write, uint32_t format, uint32_t capacity) {
  Busy = true;
  // Whatever ends the walk (a failed allocation, a hook's own exception), the context is not left
  // busy.
  struct BusyUntilReturn {
    bool& busy;
    ~BusyUntilReturn() { busy = false; }
  } busy_until_return{Busy};

  const bool writes = write != nullptr && vertex_stride(format) != 0;
  uint8_t* out = static_cast<uint8_t*>(write);
  uint32_t written = 0;
  TKZ_LinkedList& list = *Particles;
  const TKZ_Frustum* frustum = KZ_ContextFrustum;
  // With the depth sort, the particles stepped so far form the front of the chain: a particle moved
  // towards the tail lands behind them and a released one leaves the chain. Moving the stepped
  // particle towards the head therefore meets only them, and their distances have not changed since
  // their own step (a hook changes only its own particle). Nothing in the walk reads the order of
  // that front (moving towards the tail and releasing look only behind it), so the moves towards the
  // head are not made one by one, which costs a scan per particle and is quadratic when many new
  // particles stand out of order (a long step): the walk records the stepped particles in SortedFront
  // in the order it steps them, and puts the front in the order those moves would have left it once,
  // at its end (see order_front).
  const bool sort = Capabilities[kzcDepthSort];
  SortedParticle* front = nullptr;
  size_t front_size = 0;
  if (sort) {
    try {
      if (SortedFront.size() < list.Count) SortedFront.resize(list.Count);
      if (LastSorted.size() < list.Count) LastSorted.resize(list.Count);
      front = SortedFront.data();
    } catch (const std::bad_alloc&) {
      // Without the room the sort walks the links and measures at each comparison.
    }
  }

  // Memory is fetched ahead of the walk: the slots of the node kSlotsAhead on, and the bones of the
  // node kBonesAhead on, whose slot (holding the trail's header) was fetched some nodes ago.
  // Following the links ahead would itself wait on memory at every node, so a sorted walk takes the
  // nodes ahead from the order that the last sorted walk left, which is the chain's order now but
  // for particles emitted since (they come last) and the moves to come. Only prefetches depend on
  // it: a wrong guess costs time, and the walk itself follows the links.
  constexpr size_t kSlotsAhead = 16;
  constexpr size_t kBonesAhead = 8;
  const SortedParticle* last_order = front && LastSortedCount > 0 ? LastSorted.data() : nullptr;
  const size_t items = list.Items.size();
  int32_t slots_ahead = -1;  // without the last order: the chase along the links
  int32_t bones_ahead = -1;
  if (last_order) {
    for (size_t i = 0; i < kSlotsAhead && i < LastSortedCount; ++i) {
      const size_t slot = static_cast<size_t>(last_order[i].Index);
      if (slot < items) prefetch_node(list.Items[slot]);
    }
  } else {
    slots_ahead = list.First;
    bones_ahead = list.First;
    for (size_t i = 0; i < kSlotsAhead && slots_ahead >= 0; ++i) {
      prefetch_node(list.Items[static_cast<size_t>(slots_ahead)]);
      slots_ahead = list.NextIndex(slots_ahead);
      if (i < kBonesAhead && bones_ahead >= 0) bones_ahead = list.NextIndex(bones_ahead);
    }
  }
  size_t released = 0;
  int32_t index = list.First;
  while (index >= 0) {
    const int32_t current = index;
    PKZ_ListNode node = &list.Items[static_cast<size_t>(current)];
    index = list.NextIndex(current);
    if (last_order) {
      // The nodes done so far (stepped or released) are the first of the last order.
      const size_t done = front_size + released;
      if (done + kSlotsAhead < LastSortedCount) {
        const size_t slot = static_cast<size_t>(last_order[done + kSlotsAhead].Index);
        if (slot < items) {
          prefetch_node(list.Items[slot]);
          KZ_PREFETCH(&list.Links[slot]);
        }
      }
      if (done + kBonesAhead < LastSortedCount) {
        const size_t slot = static_cast<size_t>(last_order[done + kBonesAhead].Index);
        if (slot < items) prefetch_bones(list.Items[slot]);
      }
    } else {
      if (slots_ahead >= 0) {
        prefetch_node(list.Items[static_cast<size_t>(slots_ahead)]);
        slots_ahead = list.NextIndex(slots_ahead);
      }
      if (bones_ahead >= 0) {
        prefetch_bones(list.Items[static_cast<size_t>(bones_ahead)]);
        bones_ahead = list.NextIndex(bones_ahead);
      }
    }
    if (sort && list.SortTowardsTail(node, walk.camera)) continue;  // met again later
    TKZ_ParticleData& p = node->Data;
    if (p.Age > 1.0f) {
      list.Release(node, this);
      ++released;
      continue;
    }
    ProcessParticle(p, walk);
    if (writes) {
      bool visible = true;
      if (Capabilities[kzcFrustumCulling] && frustum) {
        const float hw = p.Size[0] * 0.5f;
        const float hh = p.Size[1] * 0.5f;
        visible = frustum->SphereInFrustum(p.Position, std::sqrt(hh * hh + hw * hw));
      }
      if (visible) written += WriteParticle(p, out, format, capacity - written);
    }
    if (front) {
      front[front_size++] = {current, particle_distance(p, walk.camera)};
    } else if (sort) {
      list.SortTowardsHead(node, walk.camera);
    }
  }
  if (front) {
    // The order the walk fetched ahead by is not needed any more: its buffer takes part in the sort.
    front = order_front(front, LastSorted.data(), front_size);
    // The chain is now the stepped particles alone: link them in their new order.
    for (size_t i = 0; i < front_size; ++i) {
      list.Links[static_cast<size_t>(front[i].Index)] = {i > 0 ? front[i - 1].Index : -1,
                                                         i + 1 < front_size ? front[i + 1].Index : -1};
    }
    list.First = front_size > 0 ? front[0].Index : -1;
    list.Last = front_size > 0 ? front[front_size - 1].Index : -1;
    if (front == SortedFront.data()) std::swap(SortedFront, LastSorted);
    LastSortedCount = front_size;
  }
  return written;
}

void TKZ_Context::WalkFailed() {
  // The order the walk was building is incomplete: the next walk fetches ahead along the links.
  LastSortedCount = 0;
  TKZ_Check(false, kKzBadValue);
}

void TKZ_Context::ProcessParticle(TKZ_ParticleData& p, const Walk& walk) {
  TKZ_Vectorf3& lo = VectorParameters[kzpBoundsMin - 300];
  TKZ_Vectorf3& hi = VectorParameters[kzpBoundsMax - 300];
  TKZ_Vectorf3& center = VectorParameters[kzpCenter - 300];
  for (size_t i = 0; i < 3; ++i) {
    lo[i] = std::min(lo[i], p.Position[i]);
    hi[i] = std::max(hi[i], p.Position[i]);
  }
  center = KZ_AddVectorf3(center, p.Position);

  const float dt = walk.dt;
  if (dt != 0.0f) {
    if (Capabilities[kzcAnimation] && p.Appearance) p.Appearance->Evaluate(p, dt);
    if (Capabilities[kzcPhysics]) {
      if (PhysicsMode == kzpmSimple) {
        SimpleStep(p, dt);
      } else if (PhysicsMode == kzpmDrag) {
        DragStep(p, dt);
      }
    }
  }
  if (p.Trail.size() != static_cast<size_t>(TrailLength)) LayOutTrail(p);
  if (Capabilities[kzcGeometry]) BuildParticleGeometry(p, walk);
  if (p.OnStep.Assigned()) p.OnStep(&p, this);
  p.Age += dt / p.LifeTime;
}

void TKZ_Context::SimpleStep(TKZ_ParticleData& p, float dt) {
  p.Position = KZ_AddVectorf3(p.Position, KZ_ScaleVectorf3(p.Velocity, dt));
  p.Acceleration = {p.Force[0] / p.Mass, p.Force[1] / p.Mass, p.Force[2] / p.Mass};
  p.Velocity = KZ_AddVectorf3(p.Velocity, KZ_ScaleVectorf3(p.Acceleration, dt));
}

void TKZ_Context::DragStep(TKZ_ParticleData& p, float dt) {
  const float m = p.Mass;
  const float k = ScalarParameters[kzpAirDensity - 100] * 0.5f;
  const float r = p.AirResistance;
  const TKZ_Vectorf3& w = VectorParameters[kzpWind - 300];

  p.OldPosition = p.Position;
  const TKZ_Vectorf3 total = KZ_AddVectorf3(p.Force, p.ExtraForce);
  const TKZ_Vectorf3 f = {total[0] / m, total[1] / m, total[2] / m};
  SumMagnets(p);
  const TKZ_Vectorf3 pull = {p.MagnetForce[0] / m, p.MagnetForce[1] / m, p.MagnetForce[2] / m};

  // Directions by one division per component (not by a reciprocal), which the results depend on
  // to the last bit.
  const float v = KZ_LengthVectorf3(p.Velocity);
  TKZ_Vectorf3 u{0.0f, 0.0f, 0.0f};
  if (v != 0.0f) u = {p.Velocity[0] / v, p.Velocity[1] / v, p.Velocity[2] / v};
  const float wind_speed = KZ_LengthVectorf3(w);
  TKZ_Vectorf3 e{0.0f, 0.0f, 0.0f};
  if (wind_speed != 0.0f) e = {w[0] / wind_speed, w[1] / wind_speed, w[2] / wind_speed};

  float drag = -(v * v) * k * r / m;
  // Drag never takes more than half the speed in one step (an explicit step would overshoot and
  // turn the particle round).
  if (-drag * dt > v) drag = -v / (2.0f * dt);
  const float wind = wind_speed * wind_speed * k * r / m;

  // Summed from the left: ((F + M) + u drag) + e wind.
  p.Acceleration = KZ_AddVectorf3(KZ_AddVectorf3(KZ_AddVectorf3(f, pull), KZ_ScaleVectorf3(u, drag)),
                                  KZ_ScaleVectorf3(e, wind));
  p.Velocity = KZ_AddVectorf3(p.Velocity, KZ_ScaleVectorf3(p.Acceleration, dt));
  p.Position = KZ_AddVectorf3(p.Position, KZ_ScaleVectorf3(p.Velocity, dt));
  p.ExtraForce = {0.0f, 0.0f, 0.0f};
  if (Capabilities[kzcCollisions]) TestCollisions(p, dt);
}

void TKZ_Context::SumMagnets(TKZ_ParticleData& p) {
  p.MagnetForce = {0.0f, 0.0f, 0.0f};
  // By index: a gravitation hook may detach or free a magnet while the list is walked.
  for (size_t i = 0; i < Magnets.size(); ++i) {
    TKZ_Magnet* magnet = Magnets[i];
    TKZ_Vectorf3 f;
    magnet->ApplyForce(p, f);
    if (KZ_LengthVectorf3(f) != 0.0f) {
      p.MagnetForce = KZ_AddVectorf3(p.MagnetForce, f);
      if (p.OnGravitated.Assigned()) p.OnGravitated(&p, magnet, this);
    }
  }
}

void TKZ_Context::TestCollisions(TKZ_ParticleData& p, float dt) {
  if (p.CollisionInfo.size() != CollisionTrees.size() || TreesChanged) {
    p.CollisionInfo.resize(CollisionTrees.size());
    for (TKZ_CollisionInformation& info : p.CollisionInfo) info.Clear();
  }
  for (size_t i = 0; i < CollisionTrees.size() && i < p.CollisionInfo.size(); ++i) {
    if (CollisionTrees[i]->TestParticle(&p, static_cast<int32_t>(i), this)) {
      p.Position = KZ_AddVectorf3(p.Position, KZ_ScaleVectorf3(p.Velocity, dt));
    }
  }
}

void TKZ_Context::LayOutTrail(TKZ_ParticleData& p) {
  const size_t n = static_cast<size_t>(TrailLength);
  p.Trail.resize(n);
  const float s = p.Size[0] / static_cast<float>(TrailLength);
  TKZ_Vectorf3 step = KZ_ScaleVectorf3(KZ_NormalizeVectorf3(p.Velocity), s);
  if (KZ_LengthVectorf3(step) == 0.0f) step = {s, 0.0f, 0.0f};
  p.Trail[0].BonePosition = p.Position;
  for (size_t i = 1; i < n; ++i) p.Trail[i].BonePosition = KZ_SubVectorf3(p.Trail[i - 1].BonePosition, step);
}

void TKZ_Context::BuildParticleGeometry(TKZ_ParticleData& p, const Walk& walk) {
  if (Capabilities[kzcTrails]) {
    BuildTrail(p, walk);
  } else {
    BuildQuad(p, walk);
  }
}

void TKZ_Context::BuildTrail(TKZ_ParticleData& p, const Walk& walk) {
  const size_t n = p.Trail.size();
  if (n < 2) return;
  TKZ_SkeletonBone* b = p.Trail.data();
  b[0].Distance = 0.0f;
  b[0].BonePosition = p.Position;

  // Each bone follows its predecessor, never passing it and ending no closer than one segment.
  const float segment = p.Size[0] / static_cast<float>(n - 1);
  const float follow = static_cast<float>(n) * walk.dt / ScalarParameters[kzpTrailLag - 100];
  for (size_t i = 1; i < n; ++i) {
    const TKZ_Vectorf3 d = KZ_SubVectorf3(b[i - 1].BonePosition, b[i].BonePosition);
    const float length = KZ_LengthVectorf3(d);
    b[i].Distance = b[i - 1].Distance + length;
    TKZ_Vectorf3 move = KZ_ScaleVectorf3(d, follow);
    const TKZ_Vectorf3 rest = KZ_SubVectorf3(d, move);
    if (KZ_LengthVectorf3(rest) < segment || KZ_DotVectorf3(rest, d) < 0.0f) {
      if (length != 0.0f) move = KZ_ScaleVectorf3(d, (length - segment) / length);
    }
    b[i].BonePosition = KZ_AddVectorf3(b[i].BonePosition, move);
  }

  float total = b[n - 1].Distance;
  if (total == 0.0f) total = 1.0f;
  const float f = 0.5f - ScalarParameters[kzpTrailTextureShift - 100];
  const float h = p.Size[1] * 0.5f;
  const TKZ_Vectorf3& a = walk.view;
  for (size_t i = 0; i < n; ++i) {
    TKZ_Vectorf3 s{0.0f, 0.0f, 0.0f};
    if (i > 0) s = KZ_CrossVectorf3(KZ_SubVectorf3(b[i - 1].BonePosition, b[i].BonePosition), a);
    if (i < n - 1) s = KZ_AddVectorf3(s, KZ_CrossVectorf3(KZ_SubVectorf3(b[i].BonePosition, b[i + 1].BonePosition), a));
    s = KZ_ScaleVectorf3(KZ_NormalizeVectorf3(s), h);
    b[i].Vertices[1] = KZ_AddVectorf3(b[i].BonePosition, s);
    b[i].Vertices[0] = KZ_SubVectorf3(b[i].BonePosition, s);
    float v = 0.0f;
    if (i > 0) {
      const float dist = b[i].Distance;
      const float first = dist / (total * f);
      const float second = (dist - total * f) / ((1.0f - f) * total);
      v = 0.5f * (first < 1.0f ? first : 1.0f) + 0.5f * (second > 0.0f ? second : 0.0f);
    }
    b[i].TexCoords[0] = {0.0f, v};
    b[i].TexCoords[1] = {1.0f, v};
  }
}

void TKZ_Context::BuildQuad(TKZ_ParticleData& p, const Walk& walk) {
  if (p.Trail.size() < 2) return;
  p.Angle += p.AngularVelocity * walk.dt;
  if (p.Angle >= kTwoPi) p.Angle = 0.0f;  // back to 0, not wrapped by 2*pi; negative angles stay

  const bool turn = p.AngularVelocity != 0.0f && Capabilities[kzcAnimation];
  long double c = 1.0L;
  long double s = 0.0L;
  if (turn) {
    // KZ_RotateVectorf3Z's turn, with the sine and cosine taken once for the four corners.
    c = std::cos(static_cast<long double>(p.Angle));
    s = std::sin(static_cast<long double>(p.Angle));
  }
  const bool normals = Capabilities[kzcNormals];
  const TKZ_Vectorf3& R = walk.right;
  const TKZ_Vectorf3& U = walk.up;
  const float width = p.Size[0];
  const float height = p.Size[1];
  for (int bone = 0; bone < 2; ++bone) {
    TKZ_SkeletonBone& b = p.Trail[static_cast<size_t>(bone)];
    for (int vertex = 0; vertex < 2; ++vertex) {
      float ox = static_cast<float>(bone) - 0.5f;
      float oy = static_cast<float>(vertex) - 0.5f;
      if (turn) {
        const long double x = ox;
        const long double y = oy;
        ox = static_cast<float>(x * c + y * s);
        oy = static_cast<float>(x * s - y * c);
      }
      const TKZ_Vectorf3 q = {(ox * R[0] + oy * U[0]) * width, (ox * R[1] + oy * U[1]) * height,
                              (ox * R[2] + oy * U[2]) * height};
      if (normals) {
        const float nc = p.NormalCurvature;
        const TKZ_Vectorf3 lean = {walk.view[0] / nc, walk.view[1] / nc, walk.view[2] / nc};
        b.Normals[vertex] = KZ_NormalizeVectorf3(KZ_AddVectorf3(q, lean));
      }
      b.Vertices[vertex] = KZ_AddVectorf3(p.Position, q);
      b.TexCoords[vertex] = {static_cast<float>(bone), static_cast<float>(vertex)};
    }
  }
}
