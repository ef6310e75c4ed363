#include "engine/magnets.h"

#include <algorithm>

#include "engine/context.h"

namespace {
constexpr long double kGravitationalConstant = 0.0667258L;

float sign_of(float v) { return v > 0.0f ? 1.0f : (v < 0.0f ? -1.0f : 0.0f); }
}  // namespace

TKZ_Magnet::~TKZ_Magnet() {
  while (!Contexts.empty()) {
    const size_t before = Contexts.size();
    Contexts.back()->RemoveMagnet(this);
    // A context that no longer lists the magnet leaves the entry; drop it so the loop ends.
    if (Contexts.size() == before) Contexts.pop_back();
  }
}

void TKZ_Magnet::AddContext(TKZ_Context* context) { Contexts.push_back(context); }

void TKZ_Magnet::RemoveContext(TKZ_Context* context) {
  auto it = std::find(Contexts.begin(), Contexts.end(), context);
  if (it == Contexts.end()) return;
  *it = Contexts.back();
  Contexts.pop_back();
}

void TKZ_Magnet::ApplyForce(const TKZ_ParticleData& p, TKZ_Vectorf3& pull) const {
  const TKZ_Vectorf3 r = KZ_SubVectorf3(Position, p.Position);
  const float d = KZ_LengthVectorf3(r);
  if (d > Range || d == 0.0f) {
    pull = {0.0f, 0.0f, 0.0f};
    return;
  }
  const TKZ_Vectorf3 n = KZ_ScaleVectorf3(r, 1.0f / d);
  switch (Mode) {
    case kInverse:
      pull = KZ_ScaleVectorf3(n, Strength / d);
      break;
    case kSpring:
      pull = KZ_ScaleVectorf3(n, Strength * d);
      break;
    case kRepel:
      for (int i = 0; i < 3; ++i) pull[i] = (r[i] - sign_of(r[i]) * Range) * (d + 1.0f) * Strength;
      break;
    case kConstant:
      pull = KZ_ScaleVectorf3(n, Strength);
      break;
    case kGravity: {
      const long double dd = static_cast<long double>(d) * d;
      pull = KZ_ScaleVectorf3(n, static_cast<float>(Strength * kGravitationalConstant * p.Mass / dd));
      break;
    }
    default:
      pull = r;
      break;
  }
  if (Clamp > 0.0f) {
    const float length = KZ_LengthVectorf3(pull);
    pull = KZ_ScaleVectorf3(KZ_NormalizeVectorf3(pull), std::min(length, Clamp));
  }
}
