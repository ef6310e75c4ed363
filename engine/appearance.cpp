#include "engine/appearance.h"

#include <cmath>

void TKZ_AppearanceModel::AddKeyframe(float time) {
  TKZ_AppearanceHook hook{};
  if (!Keyframes.empty()) hook = Keyframes.back();
  hook.Time = time;
  Keyframes.push_back(hook);
  CurrentKeyframe = static_cast<int32_t>(Keyframes.size()) - 1;
  KeyframeCount = static_cast<uint32_t>(Keyframes.size());
}

void TKZ_AppearanceModel::SetColor(float red, float green, float blue, float alpha) {
  SetColor(KZ_MakeVectorf4(red, green, blue, alpha));
}

void TKZ_AppearanceModel::SetColor(const TKZ_Vectorf4& color) {
  if (Keyframes.empty()) return;
  Keyframes[static_cast<size_t>(CurrentKeyframe)].Color = color;
}

void TKZ_AppearanceModel::SetKeyframeInteger(uint32_t cell) {
  if (Keyframes.empty()) return;
  Keyframes[static_cast<size_t>(CurrentKeyframe)].TextureCell = cell;
}

void TKZ_AppearanceModel::SetSize(float width, float height) { SetSize(KZ_MakeVectorf2(width, height)); }

void TKZ_AppearanceModel::SetSize(const TKZ_Vectorf2& size) {
  if (Keyframes.empty()) return;
  Keyframes[static_cast<size_t>(CurrentKeyframe)].Size = size;
}

void TKZ_AppearanceModel::Evaluate(TKZ_ParticleData& p, float dt) const {
  // Bounded by the table's real length too, so an owner who edits the public fields by hand cannot
  // make the walk read past it.
  const size_t real = Keyframes.size() < KeyframeCount ? Keyframes.size() : KeyframeCount;
  const int32_t count = static_cast<int32_t>(real);
  const float age = p.Age;
  int32_t i = p.KeyframeIndex < 0 ? 0 : p.KeyframeIndex;
  while (i < count && Keyframes[static_cast<size_t>(i)].Time <= age) ++i;
  p.KeyframeIndex = i;
  if (i >= count || i == 0) return;

  const TKZ_AppearanceHook& prev = Keyframes[static_cast<size_t>(i - 1)];
  const TKZ_AppearanceHook& next = Keyframes[static_cast<size_t>(i)];
  const float span = next.Time - prev.Time;
  float t = span == 0.0f ? 0.0f : (age - prev.Time) / span;
  if (InterpolationMode == 1) {
    t = static_cast<float>(0.5L - std::cos(3.14159265358979323846264338327950288L * static_cast<long double>(t)) / 2);
  }
  p.Color = KZ_AddVectorf4(prev.Color, KZ_ScaleVectorf4(KZ_SubVectorf4(next.Color, prev.Color), t));
  if (SizeMode == 0) {
    p.Size = KZ_AddVectorf2(prev.Size, KZ_ScaleVectorf2(KZ_SubVectorf2(next.Size, prev.Size), t));
  } else if (SizeMode == 1) {
    p.Size = KZ_AddVectorf2(p.Size, KZ_ScaleVectorf2(SizeGrowth, dt));
  }
  p.TextureCells[0] = prev.TextureCell;
  p.TextureCells[1] = next.TextureCell;
  p.LayerAlpha = {1.0f - t, t};
}
