#include "engine/frustum.h"

#include <cmath>

#include "framework/gl_binding.h"
#include "framework/helpers.h"

TKZ_Frustum* KZ_ContextFrustum = nullptr;

void InitContextFrustumModule() {
  if (!KZ_ContextFrustum) KZ_ContextFrustum = new TKZ_Frustum();
}

void DoneContextFrustumModule() { FreeAndNilObject(KZ_ContextFrustum); }

bool TKZ_Frustum::MatricesChanged() {
  float modelview[16] = {};
  float projection[16] = {};
  gl.glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
  gl.glGetFloatv(GL_PROJECTION_MATRIX, projection);
  float sum = 0.0f;
  for (int i = 0; i < 16; ++i) {
    sum += std::fabs(modelview[i] - ModelView[i]);
    ModelView[i] = modelview[i];
    sum += std::fabs(projection[i] - Projection[i]);
    Projection[i] = projection[i];
  }
  return sum > 0.0f;
}

void TKZ_Frustum::NormalizePlane(int32_t index) {
  float* p = Planes[index];
  const float length = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
  if (!(length > 0.0f)) {
    p[0] = p[1] = p[2] = 0.0f;
    p[3] = 1.0f;
    return;
  }
  p[0] /= length;
  p[1] /= length;
  p[2] /= length;
  p[3] /= length;
}

void TKZ_Frustum::Calculate() {
  if (!MatricesChanged()) return;
  const float* m = ModelView;
  const float* p = Projection;
  // projection x model-view, both column-major.
  float k[16];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      k[4 * i + j] = m[4 * i + 0] * p[0 + j] + m[4 * i + 1] * p[4 + j] + m[4 * i + 2] * p[8 + j] +
                     m[4 * i + 3] * p[12 + j];
  // Row r of the product is (k[r], k[4 + r], k[8 + r], k[12 + r]); each plane is row 3 plus or
  // minus another row.
  struct PlaneRule {
    int row;
    float sign;
  };
  static const PlaneRule rules[6] = {{0, -1.0f}, {0, 1.0f}, {1, 1.0f}, {1, -1.0f}, {2, -1.0f}, {2, 1.0f}};
  for (int32_t plane = 0; plane < 6; ++plane) {
    const PlaneRule& rule = rules[plane];
    for (int c = 0; c < 4; ++c) {
      const float w = k[4 * c + 3];
      const float other = k[4 * c + rule.row];
      Planes[plane][c] = rule.sign < 0.0f ? w - other : w + other;
    }
    NormalizePlane(plane);
  }
}

bool TKZ_Frustum::SphereInFrustum(const TKZ_Vectorf3& centre, float radius) const {
  for (const auto& plane : Planes) {
    const float distance = plane[0] * centre[0] + plane[1] * centre[1] + plane[2] * centre[2] + plane[3];
    if (distance <= -radius) return false;
  }
  return true;
}

bool TKZ_Frustum::BoxInFrustum(const TKZ_Vectorf3& corner1, const TKZ_Vectorf3& corner2) const {
  float centre[3];
  float half[3];
  for (int a = 0; a < 3; ++a) {
    centre[a] = (corner1[a] + corner2[a]) / 2.0f;
    half[a] = std::fabs(corner2[a] - corner1[a]) / 2.0f;
  }
  for (const auto& plane : Planes) {
    bool front = false;
    // Corner signs (x, y, z): x changes fastest, then y, then z, starting at (-, -, -).
    for (int corner = 0; corner < 8 && !front; ++corner) {
      const float x = (corner & 1) ? centre[0] + half[0] : centre[0] - half[0];
      const float y = (corner & 2) ? centre[1] + half[1] : centre[1] - half[1];
      const float z = (corner & 4) ? centre[2] + half[2] : centre[2] - half[2];
      front = plane[0] * x + plane[1] * y + plane[2] * z + plane[3] > 0.0f;
    }
    if (!front) return false;
  }
  return true;
}
