#pragma once
// The view frustum: the six clipping planes of the current OpenGL view, rebuilt from the model-view
// and projection matrices only when one of them changed, with a sphere test (particles) and an
// axis-aligned box test (effects). Main thread only: it reads GL state.
#include <cstdint>

#include "engine/vectors.h"

// Plane numbers, in storage order.
enum : int32_t { kFrustumRight = 0, kFrustumLeft, kFrustumBottom, kFrustumTop, kFrustumFar, kFrustumNear };

class TKZ_Frustum {
 public:
  // Brings the planes up to date with the current GL matrices; rebuilds only after a change.
  void Calculate();
  // Reads both GL matrices, stores them and tells whether either differs from the stored copy.
  bool MatricesChanged();
  // Scales plane `index` to a unit normal. A plane whose normal has length 0 (or is not a number)
  // comes from a degenerate projection and cannot clip anything: it becomes (0, 0, 0, 1), which
  // every point lies in front of, so a broken view culls nothing rather than everything.
  void NormalizePlane(int32_t index);

  // True unless the sphere lies wholly outside some plane (distance <= -radius).
  bool SphereInFrustum(const TKZ_Vectorf3& centre, float radius) const;
  // True unless some plane has all eight corners of the box on or behind it; the two opposite
  // corners may be given in either order.
  bool BoxInFrustum(const TKZ_Vectorf3& corner1, const TKZ_Vectorf3& corner2) const;

  // All zero until the first rebuild. Matrices in OpenGL's element order; planes (nx, ny, nz, d)
  // with the normal pointing into the view, in the order of the plane numbers above.
  float ModelView[16] = {};
  float Projection[16] = {};
  float Planes[6][4] = {};
};

// The frustum every particle context culls against (brought up to date by TKZ_Context::Process).
extern TKZ_Frustum* KZ_ContextFrustum;

// Module initialisation and finalisation of the engine core's frustum: creates and frees
// KZ_ContextFrustum. Runs before the effect manager's module and is undone after it.
void InitContextFrustumModule();
void DoneContextFrustumModule();
