#pragma once
// Scene effects and the manager that drives them once per frame: it keeps its effects ordered by
// distance from the camera, frees those that report themselves finished, skips those whose cull box
// is outside the view, updates each when its interval has run out, and draws them in array order.
// Main thread only (update reads GL state, effects draw).
#include <cstdint>
#include <vector>

#include "engine/delegate.h"
#include "engine/frustum.h"
#include "engine/vectors.h"

class TKZU_Effect;

// Called with the effect as Sender.
using TKZU_NotifyEvent = KZ_Delegate<TKZU_Effect*>;

// One drawing pass of an emitter: the GL blend function it draws with.
struct TKZU_Renderpass {
  uint32_t SourceFactor;
  uint32_t DestFactor;
};

// The abstract scene effect. Descendants step, draw and choose the vertex storage of their particle
// context; a descendant that honours Finish winds down and then calls OnFinished with itself.
class TKZU_Effect {
 public:
  TKZU_Effect();
  virtual ~TKZU_Effect() = default;
  TKZU_Effect(const TKZU_Effect&) = delete;
  TKZU_Effect& operator=(const TKZU_Effect&) = delete;

  // The 3x3 part becomes Orientation, the translation Position.
  void SetTransform(TKZ_Matrixf4 m);
  void SetPosition(float x, float y, float z);
  void SetPosition(const TKZ_Vectorf3& v);
  // Both forms only store the vector; neither calls the other.
  virtual void SetSceneVector(float x, float y, float z);
  virtual void SetSceneVector(const TKZ_Vectorf3& v);
  // Advances the effect by `elapsed` seconds.
  virtual void Update(float elapsed) = 0;
  // Draws the effect; `with_state` is handed to the particle context's draw unchanged.
  virtual void Render(bool with_state) = 0;
  // Chooses the vertex storage of the effect's particle context (TKZ_Context::SetStorageMode).
  virtual void SetStorageMode(int32_t mode) = 0;
  // Asks the effect to wind down; it stays managed until it reports itself finished.
  void Finish();

  float Elapsed = 0.0f;  // seconds gathered since the last update call
  bool UpdateEveryFrame = false;
  bool Finished = false;  // the manager frees the effect on its next update
  TKZ_Vectorf3 Position{};
  TKZ_Vectorf3 CullBoxMin{};
  TKZ_Vectorf3 CullBoxMax{};  // the opposite corner; either order
  TKZ_Vectorf3 SceneVector{};
  TKZ_Matrixf3 Orientation{};
  TKZU_NotifyEvent OnFinished;
  TKZU_NotifyEvent OnBeforeUpdate;
  TKZU_NotifyEvent OnAfterUpdate;
  TKZU_NotifyEvent OnBeforeRender;
  TKZU_NotifyEvent OnAfterRender;
  bool FinishRequested = false;
  bool CullEnabled = false;  // written by the effect's owner
};

// Holds effects by pointer. It frees an effect when it finds it finished during Update and frees all
// of them in Clear; destroying the manager frees neither: whoever created them frees the rest.
class TKZU_EffectManager {
 public:
  TKZU_EffectManager() = default;
  TKZU_EffectManager(const TKZU_EffectManager&) = delete;
  TKZU_EffectManager& operator=(const TKZU_EffectManager&) = delete;

  // Hands the effect the scene vector, the finish handler and the storage setting, appends it and
  // staggers all timers. An effect that is already managed (or nullptr) is refused: holding it twice
  // would free it twice.
  void AddEffect(TKZU_Effect* effect, bool every_frame);
  // Marks the effect finished; the next update frees it if it is managed.
  void RemoveEffect(TKZU_Effect* effect);
  void FinishEffectHandler(TKZU_Effect* sender);
  void FinishAll();
  void Clear();
  int32_t IndexOf(const TKZU_Effect* effect) const;
  TKZU_Effect* GetEffect(int32_t index) const;
  void SetInterval(float value);
  // Spreads the effects' timers evenly over one interval: effect i starts at i * Interval / Count.
  void StaggerTimers();
  void SetSceneVector(float x, float y, float z);
  void SetSceneVector(const TKZ_Vectorf3& v);
  void SetSetting(int32_t value);
  // Reads the model-view matrix from GL and runs UpdateWithMatrix.
  void Update(float dt);
  void UpdateWithMatrix(const TKZ_Matrixf4& model_view, float dt);
  // Draws every managed effect in array order, culled and finished ones included.
  void Render(bool with_state);
  // Quicksort by distance from SortOrigin, nearest first; the pivot comes from the shared random
  // generator, so equal distances end in no defined order.
  void SortByDistance();

  TKZ_Vectorf3 SceneVector{};
  std::vector<TKZU_Effect*> Effects;  // its size is the capacity; the first Count entries are live
  TKZ_Vectorf3 SortOrigin{};
  float Interval = 0.0f;
  int32_t Setting = 1;  // vertex storage mode handed to every effect
  uint32_t Count = 0;
  uint32_t GrowthStep = 10;

 private:
  float DistanceOf(const TKZU_Effect* effect) const;
  void QuickSort(int32_t lo, int32_t hi);

  std::vector<float> SortDistances;  // the sort's distances, parallel to Effects while it runs
};

// -1 for a value >= 0, 1 otherwise (also for a value that is not a number).
int8_t KZU_EffectCompareSign(float value);

// The frustum the effect manager culls against.
extern TKZ_Frustum* KZU_EffectFrustum;

// Module initialisation and finalisation: creates and frees KZU_EffectFrustum. Initialised right
// after InitContextFrustumModule and finalised right before DoneContextFrustumModule.
void InitEffectManagerModule();
void DoneEffectManagerModule();
