#pragma once
// Shape emitters: scene effects that keep feeding particles into a particle context from a shape.
// TKZU_CustomEmitter owns the timing, the number to emit, the start-velocity rule and the drawing;
// each kind decides where on or in its shape a new particle starts: a spherical shell, a box, a cone
// (surface or volume), the letters of a text sampled from a character sheet, or a list of
// triangles.
//
// Use: create a kind, SetContext, AddBlendPass at least once, set the shape, ParticleCount, Speed and
// the particle lifetimes, and hand it to a TKZU_EffectManager. Each update emits the particles that
// are missing from ParticleCount (ramped by FadeInTime and faded by FadeDistance), then processes
// the context. After Finish it stops emitting, lets its particles die and calls OnFinished once the
// context is empty; the manager then frees it. The context is not owned and must outlive the emitter.
//
// Errors: no operation reports one. An emitter without a context does nothing but report its end; a
// font emitter without a font map emits nothing. Main thread only (updates read GL state).
//
// Random draws come from the shared generator (framework/random.h), in a fixed order per particle,
// so a seeded run is reproducible.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/effect_manager.h"
#include "engine/vectors.h"

class TKZ_Context;

class TKZU_CustomEmitter : public TKZU_Effect {
 public:
  TKZU_CustomEmitter();
  ~TKZU_CustomEmitter() override;

  // Not owned; nullptr detaches.
  void SetContext(TKZ_Context* context);
  // Pausing (false) also restarts the fade-in.
  void SetEmitting(bool value);
  void AddBlendPass(int32_t source, int32_t destination);
  void SetCenter(float x, float y, float z);
  void SetCenter(const TKZ_Vectorf3& v);
  void SetRandomScale(float x, float y, float z);
  void SetRandomScale(const TKZ_Vectorf3& v);
  void SetVelocityBias(float x, float y, float z);
  void SetVelocityBias(const TKZ_Vectorf3& v);
  void SetVelocityMatrix(const TKZ_Matrixf3& matrix);

  // Both forms store the vector and pass it on to the context as its wind (parameter 300).
  void SetSceneVector(float x, float y, float z) override;
  void SetSceneVector(const TKZ_Vectorf3& v) override;
  // Finish check, distance factor, emission (or the end report), context step, age, cull box.
  void Update(float elapsed) override;
  // One draw of the context per blend pass; nothing without a pass.
  void Render(bool with_state) override;
  void SetStorageMode(int32_t mode) override;
  // Makes this update's particles.
  virtual void Emit() = 0;
  // Back to the defaults; each kind resets its shape as well.
  virtual void ResetDefaults();

  // The particles this update should make: ParticleCount ramped by the fade-in and scaled by the
  // distance factor, less the live particles. Zero or negative means none.
  int32_t ParticlesToEmit() const;
  // Start velocity of a particle whose start point, in the emitter's frame before Position is added,
  // is `position`.
  TKZ_Vectorf3 ComputeVelocity(const TKZ_Vectorf3& position) const;

  float Age = 0.0f;  // seconds since the last reset; stops growing once Lifetime and FadeInTime passed
  float FadeInTime = 0.0f;      // seconds over which the emission ramps up; 0 = no ramp
  float DistanceFactor = 1.0f;  // from the camera distance, worked out by every update
  float FadeDistance = 0.0f;    // distance at which emission falls to 0; 0 = no fading
  float Lifetime = 0.0f;        // seconds after which the emitter finishes itself; 0 = never
  bool Emitting = true;
  bool KeepCount = true;
  int32_t ParticleCount = 0;  // the population the emitter keeps up
  float MinLifetime = 0.0f;
  float MaxLifetime = 0.0f;
  TKZ_Vectorf3 Center{};       // origin of the radial velocity rule, in the emitter's frame
  TKZ_Vectorf3 WorldCenter{};  // Center turned by Orientation
  float Speed = 0.0f;
  TKZ_Matrixf3 VelocityMatrix{};  // turns each velocity direction
  TKZ_Vectorf3 VelocityBias{};    // added to each direction before it is normalised
  TKZ_Vectorf3 RandomScale{};     // per-axis spread of the random rule
  // 0: away from the centre; 1: random within RandomScale; any other value: no direction of its
  // own, so the velocity follows VelocityBias alone.
  int32_t VelocityMode = 0;
  bool RelativeCenter = false;  // the radial rule measures from Center - Position
  bool HasContext = false;
  TKZ_Context* Context = nullptr;
  std::vector<TKZU_Renderpass> BlendPasses;

 protected:
  // True when particles can be made and drawn.
  bool Attached() const { return HasContext && Context != nullptr; }
  // Velocity from `local` (the point before Position is added), a lifetime from the range, and a
  // particle at local + Position.
  void MakeParticle(const TKZ_Vectorf3& local);
  // The same for a point that already includes Position (the text layout): the velocity is worked
  // out from the point itself and the particle is made there.
  void MakeParticleAt(const TKZ_Vectorf3& point);
  // The fade-in ramp, 0 to 1.
  float Ramp() const;
};

// A spherical shell between MinRadius and MaxRadius around Position; DirectionBias leans the
// directions towards one side.
class TKZU_SphereEmitter : public TKZU_CustomEmitter {
 public:
  TKZU_SphereEmitter();
  void SetDirectionBias(float x, float y, float z);
  void SetDirectionBias(const TKZ_Vectorf3& v);
  void Emit() override;
  void ResetDefaults() override;

  float MinRadius = 0.0f;
  float MaxRadius = 0.0f;
  TKZ_Vectorf3 DirectionBias{};
};

// A box of BoxSize (full edge lengths) centred on Position, turned by Orientation.
class TKZU_CubeEmitter : public TKZU_CustomEmitter {
 public:
  TKZU_CubeEmitter();
  void Emit() override;
  void ResetDefaults() override;

  TKZ_Vectorf3 BoxSize{};
};

// A cone or truncated cone along -y: the top circle at y = 0, the bottom circle at -ConeHeight,
// turned by Orientation. Surface mode shares the particles between the caps and the side by area;
// volume mode fills it.
class TKZU_ConeEmitter : public TKZU_CustomEmitter {
 public:
  TKZU_ConeEmitter();
  void Emit() override;
  void ResetDefaults() override;

  float BottomRadius = 0.0f;
  float TopRadius = 0.0f;
  float ConeHeight = 0.0f;
  bool Surface = false;
  bool BottomCap = true;
  bool TopCap = true;
  bool UniformDensity = true;

 private:
  // Radius at height fraction t (0 top, 1 bottom).
  float RadiusAt(float t) const;
  // Turns a fraction drawn evenly into one that spreads the particles more evenly over a cone whose
  // radius changes along it.
  float SpreadFraction(float t) const;
  void MakeConeParticle(float t, float rho, float angle);
};

// One character of a font map: its points (x, y in 0..1, y upward) and its extent as a fraction of
// the widest and tallest character.
struct TKZU_CharacterMap {
  std::vector<TKZ_Vectorf2> Points;
  float Width = 0.0f;
  float Height = 0.0f;
  uint8_t VerticalClass = 0;  // 0 on the base line, 1 hangs from the top, 2 centred, 3 descends
};

// Sample formats of a character sheet.
enum TKZU_SampleFormat : int32_t {
  kzuSampleByte = 0,    // unsigned bytes, 255 = full
  kzuSampleSingle = 1,  // float
  kzuSampleDouble = 2,  // double
};

// The points of 256 characters read from a character sheet: a 16 x 16 grid of cells, character code
// = cell row * 16 + cell column, row 0 at the first pixel row. Every sample above the threshold is a
// point of its cell's character. The sheet is handed over as pixels; the map keeps no pointer to it.
class TKZU_FontMap {
 public:
  // An empty map.
  TKZU_FontMap() = default;
  // `pixels` points to the first sample; `step` is the number of samples from one pixel to the next
  // (e.g. 4 with `pixels` at the alpha byte of RGBA data). The sheet must hold
  // (width * height - 1) * step + 1 samples. A null sheet, a zero size or an unknown format leaves
  // the map empty.
  TKZU_FontMap(const void* pixels, uint32_t width, uint32_t height, uint32_t step, float threshold,
               int32_t format);
  virtual ~TKZU_FontMap() = default;

  TKZU_CharacterMap CharacterMaps[256];
  int32_t CellWidth = 0;  // pixels; 0 for an empty map
  float MaxWidth = 0.0f;  // largest character extents before they were divided by these
  float MaxHeight = 0.0f;
};

// The letters of a text, laid out from Position along +x with lines going down -y; each point,
// Position included, is then turned by Orientation (about the origin, not about Position), and the
// velocity rule sees that point. Particles are shared between the characters by their number of
// points.
class TKZU_FontEmitter : public TKZU_CustomEmitter {
 public:
  TKZU_FontEmitter();
  // Takes the text and counts its points; does nothing without a font map.
  void SetText(const std::string& text);
  void Emit() override;
  void ResetDefaults() override;

  int32_t TotalPoints = 0;
  int32_t TextLength = 0;
  float GlyphSize = 1.0f;
  std::string Text;
  TKZU_FontMap* FontMap = nullptr;  // not owned
  bool Monospace = false;
  float CharSpacing = 0.0f;
  float LineSpacing = 0.0f;
  float TextWidth = 0.0f;  // results of the last emission pass
  float TextHeight = 0.0f;
  std::vector<uint8_t> Characters;  // the character codes of Text
};

// One triangle P, Q, R of a face emitter.
struct TKZU_EmitFace {
  TKZ_Vectorf3 Vertex;  // P
  TKZ_Vectorf3 Edge1;   // Q - P
  TKZ_Vectorf3 Edge2;   // R - Q
  float Area;
  // Col0 along Edge1, Col2 the face normal, Col1 = Col0 x Col2; all of unit length.
  TKZ_Matrixf3 Frame;
};

// Face-mode values of TKZU_FaceEmitter::BeginFaces.
enum TKZU_FaceMode : int32_t {
  kzuFaceTriangles = 0,
  kzuFaceStrip = 1,
  kzuFaceQuads = 2,
  kzuFaceFan = 3,
  kzuFaceNone = 100,  // no primitive open
};

// A list of triangles, filled evenly by area, turned by Orientation. Triangles come from AddFace or
// from vertices between BeginFaces and EndFaces, as OpenGL's triangles, strips, quads and fans.
class TKZU_FaceEmitter : public TKZU_CustomEmitter {
 public:
  TKZU_FaceEmitter();
  void BeginFaces(int32_t mode);
  void EndFaces();
  void AddVertex(float x, float y, float z);
  void AddVertex(const TKZ_Vectorf3& v);
  void AddFace(const TKZ_Vectorf3& p, const TKZ_Vectorf3& q, const TKZ_Vectorf3& r);
  void Emit() override;
  void ResetDefaults() override;

  std::vector<TKZU_EmitFace> Faces;
  float TotalArea = 0.0f;
  TKZ_Vectorf3 PendingVertices[3] = {};
  int32_t VertexCount = 0;
  int32_t FaceMode = kzuFaceNone;
  bool UseFaceFrame = false;  // each face's frame becomes the velocity matrix while it emits
};
