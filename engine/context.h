#pragma once
// A particle context: one particle system. It owns a pool of particles, a template particle from
// which every new particle is copied, a list of textures with cell grids, ten on/off capabilities, a
// few numeric parameters addressed by code, the blend factors and its vertex storage; it lists
// magnets and collision trees that it does not own.
//
// Use: create, configure (capabilities, textures, template), emit from the template, and once per
// frame Process(dt) (moves, ages, releases and culls the particles and writes the visible ones into
// the vertex storage) and Draw(true).
//
// Errors: every call reports failure only through the engine error code (TKZ_GetLastError) and then
// leaves the context unchanged; nothing raises an exception or logs. While Process walks the
// particles the context is busy: particle hooks run then, and emission, ReserveParticles,
// ClearParticles, SetTrailLength, Process and Draw fail with error 3, so hooks queue their spawns and
// emit after Process returns. The template setters stay usable while busy. Memory that cannot be had
// is error 1, also in the middle of Process (which then ends its walk early); an exception that a
// hook throws for its own reasons passes through Process, and the context is not left busy.
//
// Textures: the vertex writers need the selected texture's cell grid. A context without any texture
// treats the whole texture as a single cell (a 1 x 1 grid) and its Draw binds no texture.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/collision_types.h"
#include "engine/particles.h"
#include "engine/vectors.h"

class TKZ_AppearanceModel;
class TKZ_Magnet;
class TGLVertexArray;
class TGLVertexBufferObject;

// Capabilities (Enable / Disable / IsEnabled), with their defaults after Reset.
enum TKZ_Capability : uint32_t {
  kzcFrustumCulling = 0,  // on: particles outside the context frustum write no vertices
  kzcAnimation = 1,       // on: appearance models are evaluated; quads turn by their angle
  kzcPhysics = 2,         // on: particles move by the physics mode
  kzcGeometry = 3,        // on: quad corners or trail ribbons are rebuilt each step
  kzcNormals = 4,         // off: quad normals, and the vertex format with normals
  kzcPointSprites = 5,    // off: one point per particle, drawn as point sprites
  kzcTrails = 6,          // off: a ribbon along the particle's last positions instead of a quad
  kzcCollisions = 7,      // off: the drag step tests the collision trees
  kzcDepthSort = 8,       // off: the particle chain stays ordered by distance to the camera
  kzcTwoLayers = 9,       // off: each particle is written once per texture layer
};
constexpr uint32_t kKzCapabilityCount = 10;

// Parameter codes: group = code / 100 (1: Single, 3: TKZ_Vectorf3), index = code % 100.
enum TKZ_Parameter : int32_t {
  kzpAirDensity = 100,         // Single, 1.29: density of the drag and wind terms
  kzpTrailLag = 101,           // Single, 1.0: how slowly trail bones follow the particle
  kzpTrailTextureShift = 102,  // Single, 0 (not reset): shifts the trail texture's middle
  kzpWind = 300,               // vector, (0, 0, 0): wind of the drag mode
  kzpBoundsMin = 301,          // vector, written by Process: per-axis minimum of the positions
  kzpBoundsMax = 302,          // vector, written by Process: per-axis maximum of the positions
  kzpCenter = 303,             // vector, written by Process: mean position
};

enum TKZ_StorageMode : int32_t {
  kzsBufferObject = 0,  // a GL vertex buffer object
  kzsVertexArray = 1,   // a client-side vertex array
  kzsNone = 2,          // particles are stepped, nothing is written or drawn (so is any other value)
};

enum TKZ_PhysicsMode : int32_t {
  kzpmSimple = 0,  // position by velocity, velocity by force over mass
  kzpmDrag = 1,    // adds magnets, air drag and wind; collisions when enabled
};

// A texture and its grid of cells. Cell k lies in row k / Columns and column k % Columns, row 0 at
// the top of the image; CellCoords holds each cell's corners (0,0), (0,1), (1,0), (1,1).
struct TKZ_Texture {
  uint32_t GLName = 0;
  uint32_t Rows = 0;
  uint32_t Columns = 0;
  std::vector<std::array<TKZ_Vectorf2, 4>> CellCoords;
};

// Stored by SetOnParticleCallback for the owner; the engine never calls it.
using TKZ_ParticleCallback = void (*)(PKZ_ParticleData particle, TKZ_Context* context);

class TKZ_Context {
 public:
  TKZ_Context();
  virtual ~TKZ_Context();
  TKZ_Context(const TKZ_Context&) = delete;
  TKZ_Context& operator=(const TKZ_Context&) = delete;

  // Back to the defaults: capabilities, parameters (except kzpTrailTextureShift), template, storage
  // mode 1, drag physics, additive blending, no particles, trail length 2. Textures, the texture
  // selection, magnets and collision trees stay. Called by a hook while busy, it does all of this
  // but dropping the particles, and leaves error 3.
  void Reset();

  // ---- Capabilities and parameters (error 2 for an unknown selector) ----
  void Enable(uint32_t capability);
  void Disable(uint32_t capability);  // disabling kzcTrails also sets the trail length back to 2
  bool IsEnabled(uint32_t capability);
  // `value` points to a float (group 1) or a TKZ_Vectorf3 (group 3). Error 1 for a null pointer.
  void SetParameter(int32_t code, const void* value);
  // Writes the parameter through `value`. Groups other than 1 and 3 write nothing and leave the
  // error code as it was.
  void GetParameter(int32_t code, void* value);

  // ---- Textures and drawing state ----
  void AddTexture(uint32_t GLName, int32_t rows, int32_t columns);  // error 4 unless both >= 1
  void SetTexture(int32_t index);                                   // error 1 unless an entry
  void SetBlendFunc(uint32_t source, uint32_t dest);
  void SetStorageMode(int32_t mode);
  void SetPhysicsMode(int32_t mode);
  void SetOnParticleCallback(TKZ_ParticleCallback callback);
  // Bones per trail; error 3 unless n >= 2, trails are enabled and the context is not busy.
  void SetTrailLength(int32_t n);

  // ---- Particles ----
  void ReserveParticles(int32_t total);  // error 3 while busy; error 1 when the memory is not there
  // Drops every particle without release hooks and without lowering appearance counts; keeps the
  // growth step. Error 3 while busy.
  void ClearParticles();
  void SetGrowthStep(uint32_t n);
  uint32_t GetGrowthStep() const;
  uint32_t GetParticleCount() const;

  // ---- Magnets and collision trees (listed, not owned) ----
  void AddMagnet(TKZ_Magnet* magnet);
  void RemoveMagnet(TKZ_Magnet* magnet);
  int32_t IndexOfMagnet(TKZ_Magnet* magnet) const;
  void RemoveAllMagnets();
  void AddCollisionTree(CollisionTreeInterface* tree);
  void RemoveCollisionTree(CollisionTreeInterface* tree);
  void RemoveAllCollisionTrees();

  // ---- Template particle ----
  void ResetTemplate();
  void SetTemplateAppearanceModel(TKZ_AppearanceModel* model);
  void SetTemplateSize(float width, float height);
  void SetTemplateSize(const TKZ_Vectorf2& size);
  void SetTemplateColor(float red, float green, float blue, float alpha);
  void SetTemplateColor(const TKZ_Vectorf4& color);
  void SetTemplateVelocity(float x, float y, float z);
  void SetTemplateVelocity(const TKZ_Vectorf3& velocity);
  void SetTemplateForce(float x, float y, float z);
  void SetTemplateForce(const TKZ_Vectorf3& force);
  void SetTemplateMass(float mass);  // error 1 and mass 1.0 when mass <= 0
  void SetTemplateMassDirect(float mass);
  void SetTemplateAirResistance(float resistance);
  void SetTemplateNormalCurvature(float value);
  // Age 0 when t > 0; otherwise age 2, so the particle is released at its first Process.
  void SetTemplateLifetime(float t);
  void SetTemplateTextureCell(uint32_t cell);  // both layers, layer alphas (1, 0)
  void SetTemplateMaterial(TKZ_Material* material);
  void SetTemplateUserData(void* data);
  void SetTemplateOnStep(const TKZ_NotifyEvent& handler);
  void SetTemplateOnRelease(const TKZ_NotifyEvent& handler);
  void SetOnGravitated(const TKZ_GravitatedEvent& handler);
  void SetOnCollided(const TKZ_CollidedEvent& handler);

  // ---- Emission: a copy of the template at the point; error 3 while busy ----
  void EmitParticle(float x, float y, float z);
  void EmitParticle(const TKZ_Vectorf3& position);

  // ---- Frame ----
  // Advances every particle by dt seconds and writes the visible ones into the vertex storage.
  // Reads the GL model-view matrix (and, with culling, brings KZ_ContextFrustum up to date).
  // Starts by setting the error code to 0; a call that a hook made during the walk and that was
  // refused leaves its code after Process returns.
  void Process(float dt);
  // Draws what the last Process wrote; with `with_state` the blend, alpha-test and texture state is
  // set before and undone after. Error 3 while busy; nothing for an empty pool.
  void Draw(bool with_state);

  // ---- Reading ----
  const TKZ_ParticleData& GetTemplate() const { return Template; }
  TKZ_LinkedList& GetParticles() { return *Particles; }
  const std::vector<TKZ_Texture>& GetTextures() const { return Textures; }
  int32_t GetTextureIndex() const { return TextureIndex; }
  int32_t GetTrailLength() const { return TrailLength; }
  int32_t GetStorageMode() const { return StorageMode; }
  int32_t GetPhysicsMode() const { return PhysicsMode; }
  uint32_t GetBlendSource() const { return BlendSource; }
  uint32_t GetBlendDest() const { return BlendDest; }
  TKZ_ParticleCallback GetOnParticleCallback() const { return OnParticle; }
  const std::vector<TKZ_Magnet*>& GetMagnets() const { return Magnets; }
  const std::vector<CollisionTreeInterface*>& GetCollisionTrees() const { return CollisionTrees; }
  TKZ_Material* GetStandardMaterial() const { return StandardMaterial.get(); }
  TGLVertexArray& GetVertexArray() { return *VertexArray; }
  TGLVertexBufferObject& GetVertexBuffer() { return *VertexBuffer; }
  const TKZ_Matrixf3& GetViewRotation() const { return ViewRotation; }
  const TKZ_Vectorf3& GetViewTranslation() const { return ViewTranslation; }
  bool IsBusy() const { return Busy; }

 private:
  struct Walk;  // what one Process hands down to the per-particle step

  PKZ_ListNode EmitFromTemplate();
  // The walk: steps every particle and writes the visible ones at `write` (room for `capacity`
  // vertices of `format`; nothing is written without a known format); returns the vertices written.
  uint32_t ProcessParticles(const Walk& walk, void* write, uint32_t format, uint32_t capacity);
  // After an allocation failed in the walk: error 1.
  void WalkFailed();
  void ProcessParticle(TKZ_ParticleData& p, const Walk& walk);
  void SimpleStep(TKZ_ParticleData& p, float dt);
  void DragStep(TKZ_ParticleData& p, float dt);
  void SumMagnets(TKZ_ParticleData& p);
  void TestCollisions(TKZ_ParticleData& p, float dt);
  // Sets TreesChanged and empties every live particle's cached collision lookups.
  void TreesHaveChanged();
  void LayOutTrail(TKZ_ParticleData& p);
  void BuildParticleGeometry(TKZ_ParticleData& p, const Walk& walk);
  void BuildTrail(TKZ_ParticleData& p, const Walk& walk);
  void BuildQuad(TKZ_ParticleData& p, const Walk& walk);
  // Writes one visible particle at `write` when it fits in `room` vertices; returns the count.
  uint32_t WriteParticle(TKZ_ParticleData& p, uint8_t*& write, uint32_t format, uint32_t room);
  uint32_t VertexFormat() const;
  uint32_t VerticesRequested() const;
  void FillVertexBuffer(const Walk& walk);
  void FillVertexArray(const Walk& walk);
  void SetRenderState();
  void RestoreRenderState();

  bool Capabilities[kKzCapabilityCount] = {};
  float ScalarParameters[3] = {};
  TKZ_Vectorf3 VectorParameters[4] = {};
  std::unique_ptr<TKZ_LinkedList> Particles;
  std::vector<TKZ_Texture> Textures;
  std::vector<TKZ_Magnet*> Magnets;
  uint32_t BlendSource = 0;
  uint32_t BlendDest = 0;
  std::unique_ptr<TGLVertexArray> VertexArray;
  std::unique_ptr<TGLVertexBufferObject> VertexBuffer;
  int32_t StorageMode = kzsVertexArray;
  int32_t PhysicsMode = kzpmDrag;
  std::vector<CollisionTreeInterface*> CollisionTrees;
  std::unique_ptr<TKZ_Material> StandardMaterial;
  int32_t TextureIndex = 0;
  int32_t TrailLength = 2;
  TKZ_ParticleCallback OnParticle = nullptr;
  TKZ_ParticleData Template;
  TKZ_Matrixf3 ViewRotation{};
  TKZ_Matrixf3 InverseViewRotation{};
  TKZ_Vectorf3 ViewTranslation{};
  // Set when a collision tree is added or removed (the particles' cached lookups are emptied then),
  // cleared at the end of Process.
  bool TreesChanged = false;
  bool Busy = false;
  // Scratch of the sorted walk: the particles it has stepped so far, in walk order, with their
  // camera distances; and the same list as the last sorted walk left it, the first LastSortedCount
  // entries of LastSorted, which tells the next walk what to fetch ahead (see ProcessParticles).
  // Both have room for every live particle, so the sort that ends the walk allocates nothing.
  struct SortedParticle {
    int32_t Index;
    float Distance;
  };
  // Puts the stepped particles, listed in walk order in `front`, in the depth order of the chain,
  // using `spare` (room for as many) as the other half of a merge; returns the one that holds them.
  static SortedParticle* order_front(SortedParticle* front, SortedParticle* spare, size_t count);
  std::vector<SortedParticle> SortedFront;
  std::vector<SortedParticle> LastSorted;
  size_t LastSortedCount = 0;
};
