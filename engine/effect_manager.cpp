#include "engine/effect_manager.h"

#include <cstring>
#include <utility>

#include "framework/gl_binding.h"
#include "framework/helpers.h"
#include "framework/random.h"

TKZ_Frustum* KZU_EffectFrustum = nullptr;

void InitEffectManagerModule() {
  if (!KZU_EffectFrustum) KZU_EffectFrustum = new TKZ_Frustum();
}

void DoneEffectManagerModule() { FreeAndNilObject(KZU_EffectFrustum); }

int8_t KZU_EffectCompareSign(float value) { return value >= 0.0f ? -1 : 1; }

// ---------------------------------------------------------------------------------------------
// TKZU_Effect

TKZU_Effect::TKZU_Effect() {
  CullEnabled = false;
  Position = KZ_MakeVectorf3(0.0f, 0.0f, 0.0f);
  KZ_IdentityMatrixf3(Orientation);
}

void TKZU_Effect::SetTransform(TKZ_Matrixf4 m) { KZ_SplitMatrixf4(m, Orientation, Position); }

void TKZU_Effect::SetPosition(float x, float y, float z) { Position = KZ_MakeVectorf3(x, y, z); }

void TKZU_Effect::SetPosition(const TKZ_Vectorf3& v) { Position = v; }

void TKZU_Effect::SetSceneVector(float x, float y, float z) { SceneVector = KZ_MakeVectorf3(x, y, z); }

void TKZU_Effect::SetSceneVector(const TKZ_Vectorf3& v) { SceneVector = v; }

void TKZU_Effect::Finish() { FinishRequested = true; }

// ---------------------------------------------------------------------------------------------
// TKZU_EffectManager

void TKZU_EffectManager::AddEffect(TKZU_Effect* effect, bool every_frame) {
  if (!effect || IndexOf(effect) >= 0) return;
  effect->SetSceneVector(SceneVector);
  effect->OnFinished = TKZU_NotifyEvent::Bind<&TKZU_EffectManager::FinishEffectHandler>(this);
  effect->UpdateEveryFrame = every_frame;
  effect->Finished = false;
  effect->SetStorageMode(Setting);
  if (Effects.size() == Count) Effects.resize(Count + GrowthStep, nullptr);
  Effects[Count] = effect;
  ++Count;
  StaggerTimers();
}

void TKZU_EffectManager::RemoveEffect(TKZU_Effect* effect) { FinishEffectHandler(effect); }

void TKZU_EffectManager::FinishEffectHandler(TKZU_Effect* sender) {
  if (sender) sender->Finished = true;
}

void TKZU_EffectManager::FinishAll() {
  for (uint32_t i = 0; i < Count; ++i) Effects[i]->Finish();
}

void TKZU_EffectManager::Clear() {
  for (uint32_t i = 0; i < Count; ++i) FreeAndNilObject(Effects[i]);
  Effects.clear();
  Effects.shrink_to_fit();
  Count = 0;
}

int32_t TKZU_EffectManager::IndexOf(const TKZU_Effect* effect) const {
  for (uint32_t i = 0; i < Count; ++i)
    if (Effects[i] == effect) return static_cast<int32_t>(i);
  return -1;
}

TKZU_Effect* TKZU_EffectManager::GetEffect(int32_t index) const {
  if (index < 0 || static_cast<uint32_t>(index) >= Count) return nullptr;
  return Effects[static_cast<uint32_t>(index)];
}

void TKZU_EffectManager::SetInterval(float value) {
  Interval = value;
  StaggerTimers();
}

void TKZU_EffectManager::StaggerTimers() {
  for (uint32_t i = 0; i < Count; ++i)
    Effects[i]->Elapsed = (static_cast<float>(i) * Interval) / static_cast<float>(Count);
}

void TKZU_EffectManager::SetSceneVector(float x, float y, float z) {
  SceneVector = KZ_MakeVectorf3(x, y, z);
  for (uint32_t i = 0; i < Count; ++i) Effects[i]->SetSceneVector(x, y, z);
}

void TKZU_EffectManager::SetSceneVector(const TKZ_Vectorf3& v) {
  SceneVector = v;
  for (uint32_t i = 0; i < Count; ++i) Effects[i]->SetSceneVector(v);
}

void TKZU_EffectManager::SetSetting(int32_t value) {
  Setting = value;
  for (uint32_t i = 0; i < Count; ++i) Effects[i]->SetStorageMode(value);
}

void TKZU_EffectManager::Update(float dt) {
  float numbers[16] = {};
  gl.glGetFloatv(GL_MODELVIEW_MATRIX, numbers);
  TKZ_Matrixf4 model_view;
  std::memcpy(&model_view, numbers, sizeof model_view);
  UpdateWithMatrix(model_view, dt);
}

float TKZU_EffectManager::DistanceOf(const TKZU_Effect* effect) const {
  return KZ_LengthVectorf3(KZ_SubVectorf3(SortOrigin, effect->Position));
}

void TKZU_EffectManager::UpdateWithMatrix(const TKZ_Matrixf4& model_view, float dt) {
  if (Effects.empty()) return;
  TKZ_Matrixf3 rotation;
  TKZ_Vectorf3 translation;
  KZ_SplitMatrixf4(model_view, rotation, translation);
  KZ_InvertMatrixf3(rotation);
  SortOrigin = KZ_TransformVectorf3(translation, rotation);
  TKZ_Frustum* frustum = KZU_EffectFrustum;
  if (frustum) frustum->Calculate();

  float previous = Count > 0 ? DistanceOf(Effects[0]) : 0.0f;
  bool reordered = false;
  uint32_t i = 0;
  while (i < Count) {
    TKZU_Effect* e = Effects[i];
    if (e->Finished) {
      // The last effect takes the freed slot and is handled in this same pass.
      Effects[i] = Effects[Count - 1];
      Effects[Count - 1] = nullptr;
      --Count;
      delete e;
      reordered = true;
      continue;
    }
    // Without the effect manager's module there is no frustum to cull against: everything is visible.
    const bool visible = !e->CullEnabled || !frustum || frustum->BoxInFrustum(e->CullBoxMin, e->CullBoxMax);
    if (!visible) {
      ++i;
      continue;
    }
    const float d = DistanceOf(e);
    if (d < previous) reordered = true;
    if (e->Elapsed >= Interval || e->UpdateEveryFrame) {
      if (e->OnBeforeUpdate.Assigned()) e->OnBeforeUpdate(e);
      e->Update(e->Elapsed);
      if (e->OnAfterUpdate.Assigned()) e->OnAfterUpdate(e);
      e->Elapsed = 0.0f;
    }
    e->Elapsed += dt;
    previous = d;
    ++i;
  }
  if (reordered) SortByDistance();
}

void TKZU_EffectManager::Render(bool with_state) {
  for (uint32_t i = 0; i < Count; ++i) {
    TKZU_Effect* e = Effects[i];
    if (e->OnBeforeRender.Assigned()) e->OnBeforeRender(e);
    e->Render(with_state);
    if (e->OnAfterRender.Assigned()) e->OnAfterRender(e);
  }
}

void TKZU_EffectManager::SortByDistance() {
  if (Count == 0) return;
  // Each distance is computed once and stored as a float. Recomputing it for every comparison
  // lets a compiler compare a stored pivot with a distance still held at higher precision (x87),
  // and then no entry stops a scan and it runs past the live entries.
  SortDistances.resize(Count);
  for (uint32_t k = 0; k < Count; ++k) SortDistances[k] = DistanceOf(Effects[k]);
  QuickSort(0, static_cast<int32_t>(Count) - 1);
}

void TKZU_EffectManager::QuickSort(int32_t lo, int32_t hi) {
  float* const distance = SortDistances.data();
  int32_t i = lo;
  int32_t j = hi;
  const float pivot = distance[lo + Random(hi - lo + 1)];
  do {
    while (distance[i] < pivot) ++i;
    while (distance[j] > pivot) --j;
    if (i <= j) {
      std::swap(Effects[static_cast<size_t>(i)], Effects[static_cast<size_t>(j)]);
      std::swap(distance[i], distance[j]);
      ++i;
      --j;
    }
  } while (i <= j);
  if (j > lo) QuickSort(lo, j);
  if (i < hi) QuickSort(i, hi);
}
