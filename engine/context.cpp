#include "engine/context.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "engine/appearance.h"
#include "engine/magnets.h"
#include "engine/vertex_storage.h"
#include "framework/gl_binding.h"

namespace {
constexpr int32_t kScalarGroup = 1;
constexpr int32_t kVectorGroup = 3;
constexpr int32_t kScalarCount = 3;
constexpr int32_t kVectorCount = 4;

// Runs `grow`; a failed allocation is reported as error 1 (bad value) and gives false.
template <typename Grow>
bool grow_or_report(Grow grow) {
  try {
    grow();
    return true;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  TKZ_Check(false, kKzBadValue);
  return false;
}
}  // namespace

TKZ_Context::TKZ_Context()
    : Particles(std::make_unique<TKZ_LinkedList>()),
      VertexArray(std::make_unique<TGLVertexArray>()),
      VertexBuffer(std::make_unique<TGLVertexBufferObject>(GL_DYNAMIC_DRAW)),
      StandardMaterial(std::make_unique<TKZ_Material>("kz_standard_particle_material")) {
  StandardMaterial->Damping = 1.0f;
  Reset();
}

TKZ_Context::~TKZ_Context() {
  Particles.reset();
  for (CollisionTreeInterface* tree : CollisionTrees) tree->DetachContext(this);
  CollisionTrees.clear();
  // The magnet forgets this context; Magnets is not walked by the magnet in return.
  std::vector<TKZ_Magnet*> magnets;
  magnets.swap(Magnets);
  for (TKZ_Magnet* magnet : magnets) magnet->RemoveContext(this);
}

void TKZ_Context::Reset() {
  // From a hook in the middle of the walk every step runs but the clearing, which would pull the
  // particles from under the walk: it fails with error 3, and that code is what Reset leaves.
  for (uint32_t c : {kzcFrustumCulling, kzcGeometry, kzcAnimation, kzcPhysics}) Enable(c);
  for (uint32_t c : {kzcCollisions, kzcNormals, kzcPointSprites, kzcTrails, kzcDepthSort, kzcTwoLayers}) Disable(c);
  const float lag = 1.0f;
  const float density = 1.29f;
  const TKZ_Vectorf3 zero{0.0f, 0.0f, 0.0f};
  SetParameter(kzpTrailLag, &lag);
  SetParameter(kzpAirDensity, &density);
  for (int32_t code : {kzpWind, kzpBoundsMin, kzpBoundsMax, kzpCenter}) SetParameter(code, &zero);
  ResetTemplate();
  SetStorageMode(kzsVertexArray);
  SetPhysicsMode(kzpmDrag);
  SetBlendFunc(GL_SRC_ALPHA, GL_ONE);
  OnParticle = nullptr;
  ClearParticles();
  TrailLength = 2;
}

// ---- Capabilities and parameters ----

void TKZ_Context::Enable(uint32_t capability) {
  if (!TKZ_Check(capability < kKzCapabilityCount, kKzBadSelector)) return;
  Capabilities[capability] = true;
}

void TKZ_Context::Disable(uint32_t capability) {
  if (!TKZ_Check(capability < kKzCapabilityCount, kKzBadSelector)) return;
  Capabilities[capability] = false;
  if (capability == kzcTrails) TrailLength = 2;
}

bool TKZ_Context::IsEnabled(uint32_t capability) {
  if (!TKZ_Check(capability < kKzCapabilityCount, kKzBadSelector)) return false;
  return Capabilities[capability];
}

void TKZ_Context::SetParameter(int32_t code, const void* value) {
  const int32_t group = code / 100;
  const int32_t index = code % 100;
  const bool scalar = group == kScalarGroup && index < kScalarCount;
  const bool vector = group == kVectorGroup && index < kVectorCount;
  if (!TKZ_Check(scalar || vector, kKzBadSelector)) return;
  if (!TKZ_Check(value != nullptr, kKzBadValue)) return;
  if (scalar) {
    std::memcpy(&ScalarParameters[index], value, sizeof(float));
  } else {
    std::memcpy(VectorParameters[index].data(), value, sizeof(TKZ_Vectorf3));
  }
}

void TKZ_Context::GetParameter(int32_t code, void* value) {
  const int32_t group = code / 100;
  const int32_t index = code % 100;
  if (group != kScalarGroup && group != kVectorGroup) return;
  const int32_t count = group == kScalarGroup ? kScalarCount : kVectorCount;
  if (!TKZ_Check(index < count, kKzBadSelector)) return;
  if (!TKZ_Check(value != nullptr, kKzBadValue)) return;
  if (group == kScalarGroup) {
    std::memcpy(value, &ScalarParameters[index], sizeof(float));
  } else {
    std::memcpy(value, VectorParameters[index].data(), sizeof(TKZ_Vectorf3));
  }
}

// ---- Textures and drawing state ----

void TKZ_Context::AddTexture(uint32_t GLName, int32_t rows, int32_t columns) {
  if (!TKZ_Check(rows >= 1 && columns >= 1, kKzBadGrid)) return;
  TKZ_Texture texture;
  texture.GLName = GLName;
  texture.Rows = static_cast<uint32_t>(rows);
  texture.Columns = static_cast<uint32_t>(columns);
  static const float corners[4][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
  if (!grow_or_report([&] {
        texture.CellCoords.resize(size_t{texture.Rows} * texture.Columns);
        Textures.reserve(Textures.size() + 1);
      }))
    return;
  const float fr = static_cast<float>(rows);
  const float fc = static_cast<float>(columns);
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t q = 0; q < columns; ++q) {
      auto& cell = texture.CellCoords[size_t(r) * size_t(columns) + size_t(q)];
      for (int k = 0; k < 4; ++k) {
        cell[static_cast<size_t>(k)] = {(static_cast<float>(q) + corners[k][0]) / fc,
                                        (fr - (static_cast<float>(r) + corners[k][1])) / fr};
      }
    }
  }
  Textures.push_back(std::move(texture));
}

void TKZ_Context::SetTexture(int32_t index) {
  if (!TKZ_Check(index >= 0 && static_cast<size_t>(index) < Textures.size(), kKzBadValue)) return;
  TextureIndex = index;
}

void TKZ_Context::SetBlendFunc(uint32_t source, uint32_t dest) {
  BlendSource = source;
  BlendDest = dest;
}

void TKZ_Context::SetStorageMode(int32_t mode) { StorageMode = mode; }

void TKZ_Context::SetPhysicsMode(int32_t mode) { PhysicsMode = mode; }

void TKZ_Context::SetOnParticleCallback(TKZ_ParticleCallback callback) { OnParticle = callback; }

void TKZ_Context::SetTrailLength(int32_t n) {
  if (!TKZ_Check(n >= 2 && Capabilities[kzcTrails] && !Busy, kKzBusy)) return;
  TrailLength = n;
}

// ---- Particles ----

void TKZ_Context::ReserveParticles(int32_t total) {
  if (!TKZ_Check(!Busy, kKzBusy)) return;
  grow_or_report([&] { Particles->Reserve(total); });
}

void TKZ_Context::ClearParticles() {
  if (!TKZ_Check(!Busy, kKzBusy)) return;
  auto fresh = std::make_unique<TKZ_LinkedList>();
  if (Particles) fresh->GrowthStep = Particles->GrowthStep;
  Particles = std::move(fresh);
  LastSortedCount = 0;
}

void TKZ_Context::SetGrowthStep(uint32_t n) { Particles->GrowthStep = n; }

uint32_t TKZ_Context::GetGrowthStep() const { return Particles->GrowthStep; }

uint32_t TKZ_Context::GetParticleCount() const { return Particles->Count; }

// ---- Magnets and collision trees ----

void TKZ_Context::AddMagnet(TKZ_Magnet* magnet) {
  if (!magnet) return;
  Magnets.push_back(magnet);
  magnet->AddContext(this);
}

void TKZ_Context::RemoveMagnet(TKZ_Magnet* magnet) {
  const int32_t index = IndexOfMagnet(magnet);
  if (index < 0) return;
  magnet->RemoveContext(this);
  Magnets[static_cast<size_t>(index)] = Magnets.back();
  Magnets.pop_back();
}

int32_t TKZ_Context::IndexOfMagnet(TKZ_Magnet* magnet) const {
  auto it = std::find(Magnets.begin(), Magnets.end(), magnet);
  return it == Magnets.end() ? -1 : static_cast<int32_t>(it - Magnets.begin());
}

void TKZ_Context::RemoveAllMagnets() {
  std::vector<TKZ_Magnet*> magnets;
  magnets.swap(Magnets);
  for (TKZ_Magnet* magnet : magnets) magnet->RemoveContext(this);
}

// The list of trees changed: a particle's cached lookups may name a tree that is gone, or one now
// at another place in the list. They are emptied here, at once, rather than at the particle's next
// collision test: frames without tests (collisions off, another physics mode, no time passing)
// may come first, and a tree may be freed and another made in the same memory meanwhile.
void TKZ_Context::TreesHaveChanged() {
  TreesChanged = true;
  TKZ_LinkedList& list = *Particles;
  for (int32_t i = list.First; i >= 0; i = list.NextIndex(i)) {
    for (TKZ_CollisionInformation& info : list.Items[static_cast<size_t>(i)].Data.CollisionInfo) info.Clear();
  }
}

void TKZ_Context::AddCollisionTree(CollisionTreeInterface* tree) {
  TreesHaveChanged();
  if (!tree) return;
  CollisionTrees.push_back(tree);
  tree->AttachContext(this);
}

void TKZ_Context::RemoveCollisionTree(CollisionTreeInterface* tree) {
  TreesHaveChanged();
  auto it = std::find(CollisionTrees.begin(), CollisionTrees.end(), tree);
  if (it == CollisionTrees.end()) return;
  tree->DetachContext(this);
  *it = CollisionTrees.back();
  CollisionTrees.pop_back();
}

void TKZ_Context::RemoveAllCollisionTrees() {
  TreesHaveChanged();
  std::vector<CollisionTreeInterface*> trees;
  trees.swap(CollisionTrees);
  for (CollisionTreeInterface* tree : trees) tree->DetachContext(this);
}

// ---- Template particle ----

void TKZ_Context::ResetTemplate() {
  TKZ_ParticleData& t = Template;
  t.Color = {0.0f, 0.0f, 0.0f, 0.0f};
  t.Velocity = {0.0f, 0.0f, 0.0f};
  t.Force = {0.0f, 0.0f, 0.0f};
  t.ExtraForce = {0.0f, 0.0f, 0.0f};
  t.Size = {0.0f, 0.0f};
  t.LayerAlpha = {1.0f, 0.0f};
  t.TextureCells[0] = t.TextureCells[1] = 0;
  t.KeyframeIndex = 0;
  t.Mass = 1.0f;
  t.AirResistance = 0.0f;
  t.AngularVelocity = 0.0f;
  t.Angle = 0.0f;
  t.LifeTime = 0.0f;
  t.Age = 2.0f;
  t.NormalCurvature = 1.0f;
  t.Appearance = nullptr;
  t.UserData = nullptr;
  t.OnStep.Clear();
  t.OnRelease.Clear();
  t.OnGravitated.Clear();
  t.Trail.clear();
  t.Material = StandardMaterial.get();
}

void TKZ_Context::SetTemplateAppearanceModel(TKZ_AppearanceModel* model) { Template.Appearance = model; }
void TKZ_Context::SetTemplateSize(float width, float height) { Template.Size = {width, height}; }
void TKZ_Context::SetTemplateSize(const TKZ_Vectorf2& size) { Template.Size = size; }
void TKZ_Context::SetTemplateColor(float red, float green, float blue, float alpha) {
  Template.Color = {red, green, blue, alpha};
}
void TKZ_Context::SetTemplateColor(const TKZ_Vectorf4& color) { Template.Color = color; }
void TKZ_Context::SetTemplateVelocity(float x, float y, float z) { Template.Velocity = {x, y, z}; }
void TKZ_Context::SetTemplateVelocity(const TKZ_Vectorf3& velocity) { Template.Velocity = velocity; }
void TKZ_Context::SetTemplateForce(float x, float y, float z) { Template.Force = {x, y, z}; }
void TKZ_Context::SetTemplateForce(const TKZ_Vectorf3& force) { Template.Force = force; }

void TKZ_Context::SetTemplateMass(float mass) {
  // Written so that a NaN mass is refused too.
  Template.Mass = TKZ_Check(mass > 0.0f, kKzBadValue) ? mass : 1.0f;
}

void TKZ_Context::SetTemplateMassDirect(float mass) { Template.Mass = mass; }
void TKZ_Context::SetTemplateAirResistance(float resistance) { Template.AirResistance = resistance; }
void TKZ_Context::SetTemplateNormalCurvature(float value) { Template.NormalCurvature = value; }

void TKZ_Context::SetTemplateLifetime(float t) {
  Template.LifeTime = t;
  Template.Age = t > 0.0f ? 0.0f : 2.0f;
}

void TKZ_Context::SetTemplateTextureCell(uint32_t cell) {
  Template.TextureCells[0] = Template.TextureCells[1] = cell;
  Template.LayerAlpha = {1.0f, 0.0f};
}

void TKZ_Context::SetTemplateMaterial(TKZ_Material* material) { Template.Material = material; }
void TKZ_Context::SetTemplateUserData(void* data) { Template.UserData = data; }
void TKZ_Context::SetTemplateOnStep(const TKZ_NotifyEvent& handler) { Template.OnStep = handler; }
void TKZ_Context::SetTemplateOnRelease(const TKZ_NotifyEvent& handler) { Template.OnRelease = handler; }
void TKZ_Context::SetOnGravitated(const TKZ_GravitatedEvent& handler) { Template.OnGravitated = handler; }
void TKZ_Context::SetOnCollided(const TKZ_CollidedEvent& handler) { Template.OnCollided = handler; }

// ---- Emission ----

PKZ_ListNode TKZ_Context::EmitFromTemplate() {
  PKZ_ListNode node = Particles->Add();
  // Assigning into the slot keeps the capacity of its old trail, so a reused slot allocates nothing.
  node->Data = Template;
  if (Template.Appearance) ++Template.Appearance->RefCount;
  return node;
}

void TKZ_Context::EmitParticle(float x, float y, float z) { EmitParticle(KZ_MakeVectorf3(x, y, z)); }

void TKZ_Context::EmitParticle(const TKZ_Vectorf3& position) {
  if (!TKZ_Check(!Busy, kKzBusy)) return;
  PKZ_ListNode node = nullptr;
  if (!grow_or_report([&] { node = EmitFromTemplate(); })) return;
  node->Data.Position = position;
  node->Data.OldPosition = position;
}
