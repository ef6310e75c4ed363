#pragma once
// A magnet pulls (in one mode pushes) the particles of every context it is attached to. It keeps the
// list of those contexts so that it can detach itself when it is freed; contexts do not own it.
#include <cstdint>
#include <vector>

#include "engine/particles.h"
#include "engine/vectors.h"

class TKZ_Magnet {
 public:
  TKZ_Magnet() = default;
  // Removes the magnet from every context that lists it.
  virtual ~TKZ_Magnet();
  TKZ_Magnet(const TKZ_Magnet&) = delete;
  TKZ_Magnet& operator=(const TKZ_Magnet&) = delete;

  // Bookkeeping for TKZ_Context::AddMagnet / RemoveMagnet.
  void AddContext(TKZ_Context* context);
  void RemoveContext(TKZ_Context* context);

  // The pull on particle `p`; (0, 0, 0) when p is at the magnet or beyond its range.
  void ApplyForce(const TKZ_ParticleData& p, TKZ_Vectorf3& pull) const;

  // Modes of the pull, with r = Position - p.Position, d = |r|, n = r / d.
  enum : uint32_t {
    kInverse = 0,   // n * Strength / d
    kSpring = 1,    // n * Strength * d
    kRepel = 2,     // per axis (r - sign(r) * Range) * (d + 1) * Strength
    kConstant = 3,  // n * Strength
    kGravity = 4,   // n * Strength * G * mass / d^2
  };

  TKZ_Vectorf3 Position{};
  float Range = 0.0f;     // acts on 0 < d <= Range
  float Strength = 0.0f;
  float Clamp = 0.0f;     // above 0: the longest pull
  uint32_t Mode = 0;
  std::vector<TKZ_Context*> Contexts;
};
