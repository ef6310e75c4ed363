#include "engine/collision_types.h"

#include "engine/particles.h"

void TKZ_Material::Respond(PKZ_ParticleData particle) {
  const float other = particle->Material ? particle->Material->Damping : 0.0f;
  float factor = 1.0f - Damping * other;
  if (!(factor > 0.0f)) factor = 0.0f;
  particle->Velocity = KZ_ScaleVectorf3(particle->Velocity, factor);
}
