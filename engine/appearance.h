#pragma once
// Appearance models: how a particle looks over its life, as a table of keyframes (colour, size,
// texture cell) on the particle's age scale, 0 at birth and 1 at the end. Models are shared by many
// particles; particles count their references, and an auto-free model is freed by the release of
// the last particle that uses it.
#include <cstdint>
#include <vector>

#include "engine/particles.h"
#include "engine/vectors.h"

struct TKZ_AppearanceHook {
  TKZ_Vectorf4 Color;
  TKZ_Vectorf2 Size;
  uint32_t TextureCell;
  float Time;  // on the age scale 0..1
};

class TKZ_AppearanceModel {
 public:
  TKZ_AppearanceModel() = default;
  virtual ~TKZ_AppearanceModel() = default;
  TKZ_AppearanceModel(const TKZ_AppearanceModel&) = delete;
  TKZ_AppearanceModel& operator=(const TKZ_AppearanceModel&) = delete;

  // Appends a keyframe at `time`, starting as a copy of the previous one (the first one starts all
  // zero), and makes it the current keyframe.
  void AddKeyframe(float time);
  // Setters of the current keyframe; they do nothing while the model has no keyframe.
  void SetColor(float red, float green, float blue, float alpha);
  void SetColor(const TKZ_Vectorf4& color);
  void SetKeyframeInteger(uint32_t cell);
  void SetSize(float width, float height);
  void SetSize(const TKZ_Vectorf2& size);

  // Applies the model to particle `p` at its age: colour, size (by SizeMode), texture cells and
  // layer alphas from the two keyframes around the age. `dt` is the frame time (size mode 1).
  void Evaluate(TKZ_ParticleData& p, float dt) const;

  std::vector<TKZ_AppearanceHook> Keyframes;  // in the order added; times expected to rise
  uint32_t InterpolationMode = 0;  // 1: cosine easing; anything else: linear
  uint32_t SizeMode = 0;           // 0: interpolated; 1: grows by SizeGrowth per second; else untouched
  int32_t CurrentKeyframe = 0;     // the keyframe the setters change
  uint32_t KeyframeCount = 0;
  uint32_t RefCount = 0;           // live particles that use the model
  bool AutoFree = false;           // the last released particle frees the model
  TKZ_Vectorf2 SizeGrowth{};       // width and height per second in size mode 1
};
