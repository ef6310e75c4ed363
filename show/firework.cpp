#include "show/firework.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "engine/context.h"
#include "framework/format.h"
#include "framework/random.h"

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The particle's accumulator, created on its first step.
double& EnsureAccumulator(TkzFirework& firework, TKZ_ParticleData& particle) {
  if (particle.UserData == nullptr) particle.UserData = firework.AllocateAccumulator();
  return *static_cast<double*>(particle.UserData);
}

void FreeAccumulator(TkzFirework& firework, TKZ_ParticleData& particle) {
  if (particle.UserData == nullptr) return;
  firework.ReleaseAccumulator(static_cast<double*>(particle.UserData));
  particle.UserData = nullptr;
}
}  // namespace

// ---- Free routines ----

TKZ_Vectorf3 KZ_MulVectorf3(const TKZ_Vectorf3& a, const TKZ_Vectorf3& b) {
  return {a[0] * b[0], a[1] * b[1], a[2] * b[2]};
}

TKZ_Vectorf3 KZ_RotateVectorf3(const TKZ_Vectorf3& k, const TKZ_Vectorf3& v, double theta) {
  const double s = std::sin(theta);
  const double c = std::cos(theta);
  const auto sin_f = static_cast<float>(s);
  const auto cos_f = static_cast<float>(c);
  const auto one_minus_cos_f = static_cast<float>(1.0 - c);
  const TKZ_Vectorf3 turned = KZ_AddVectorf3(KZ_ScaleVectorf3(v, cos_f), KZ_ScaleVectorf3(KZ_CrossVectorf3(k, v), sin_f));
  return KZ_AddVectorf3(turned, KZ_ScaleVectorf3(KZ_MulVectorf3(KZ_MulVectorf3(k, v), k), one_minus_cos_f));
}

void PrintVertex(const TKZ_Vectorf3& v) {
  std::printf("%s\n", Format("[Vertex: %.2f, %.2f, %.2f]", v[0], v[1], v[2]).c_str());
}

// ---- TkzFireworkAmmoParticleSpawn ----

TkzFireworkAmmoParticleSpawn::TkzFireworkAmmoParticleSpawn(TkzFirework* firework) : Firework_(firework) {}

TkzFireworkAmmoParticleSpawn::~TkzFireworkAmmoParticleSpawn() { SetAmmo(nullptr); }

void TkzFireworkAmmoParticleSpawn::SetAmmo(std::unique_ptr<TkzFireworkAmmoParticleNode> node) {
  if (node.get() == Ammo_.get()) {
    node.release();  // already ours: keep the one owner
    return;
  }
  Ammo_.reset();
  Ammo_ = std::move(node);
  if (Ammo_) Ammo_->SetFirework(Firework_);
}

void TkzFireworkAmmoParticleSpawn::SetFirework(TkzFirework* firework) {
  Firework_ = firework;
  if (Ammo_) Ammo_->SetFirework(firework);
}

void TkzFireworkAmmoParticleSpawn::SpawnFrom(PKZ_ParticleData particle, bool immediate) {
  // Copied: an immediate add may grow the pool that `particle` lives in.
  const TKZ_Vectorf3 position = particle->Position;
  TKZ_Vectorf3 dir = particle->Velocity;
  const float s = KZ_LengthVectorf3(dir);
  bool spread = false;
  if (s > 0.0f) {
    dir = KZ_ScaleVectorf3(dir, 1.0f / s);
    spread = true;
  }
  if (MaxSpeed == 0.0 && MinSpeed == 0.0) {
    dir = {0.0f, 0.0f, 0.0f};
    spread = false;
  }
  // A full effect would drop the children: spare the drawing of their directions.
  if (Firework_ != nullptr && Firework_->Full()) return;
  const int32_t count = MinCount + Random(MaxCount - MinCount + 1);
  // Without a kind or an effect there is nothing to add the children to.
  if (count <= 0 || !Ammo_ || Firework_ == nullptr) return;

  if (!spread) {
    for (int32_t i = 0; i < count; ++i) Firework_->AddParticle(Ammo_.get(), position, dir, immediate, kNaN);
    return;
  }
  const TKZ_Vectorf3 axis = KZ_NormalizeVectorf3({0.0f, dir[2], -dir[1]});
  for (int32_t i = 0; i < count; ++i) {
    const double angle = MinAngle + Random() * (MaxAngle - MinAngle);
    const double speed = MinSpeed + Random() * (MaxSpeed - MinSpeed);
    TKZ_Vectorf3 w = KZ_ScaleVectorf3(KZ_RotateVectorf3(axis, dir, angle * kPi), static_cast<float>(speed));
    // A random bearing around the parent's direction (pointless straight ahead or behind).
    if (angle != 0.0 && angle != 2.0) w = KZ_RotateVectorf3(dir, w, Random() * 2.0 * kPi);
    Firework_->AddParticle(Ammo_.get(), position, w, immediate, kNaN);
  }
}

// ---- TkzFireworkAmmoParticleNode ----

TkzFireworkAmmoParticleNode::TkzFireworkAmmoParticleNode()
    : ParticleAppearance_(std::make_unique<TKZ_AppearanceModel>()),
      DestructionSpawn_(std::make_unique<TkzFireworkAmmoParticleSpawn>()),
      TrailSpawn_(std::make_unique<TkzFireworkAmmoParticleSpawn>()) {
  SetFirework(nullptr);
}

TkzFireworkAmmoParticleNode::~TkzFireworkAmmoParticleNode() {
  ParticleAppearance_.reset();
  DestructionSpawn_.reset();
  TrailSpawn_.reset();
}

void TkzFireworkAmmoParticleNode::SetFirework(TkzFirework* firework) {
  Firework_ = firework;
  DestructionSpawn_->SetFirework(firework);
  TrailSpawn_->SetFirework(firework);
}

void TkzFireworkAmmoParticleNode::Notify() {
  if (OnNotify.Assigned()) OnNotify(this);
}

void TkzFireworkAmmoParticleNode::AmmoParticleStep(PKZ_ParticleData AParticle, TKZ_Context* /*AContext*/) {
  if (Firework_ == nullptr) return;
  double& acc = EnsureAccumulator(*Firework_, *AParticle);
  // The step's path, pointing backwards.
  const TKZ_Vectorf3 d = KZ_SubVectorf3(AParticle->OldPosition, AParticle->Position);
  const float length = KZ_LengthVectorf3(d);
  // A path that is not a number or has no end has no places along it: nothing to spawn or carry.
  if (!std::isfinite(length)) {
    acc = 0.0;
    return;
  }
  acc += length;
  // A step size not above 0 would never use the path up.
  if (!(TrailStepSize > 0.0) || acc < TrailStepSize) return;

  const double steps = acc / TrailStepSize;
  double inc = 1.0 / steps;
  int64_t n;
  double used = TrailStepSize;  // path used up per child
  if (steps <= static_cast<double>(TkzFirework::kMostTrailSpawnsPerStep) && !Firework_->Full()) {
    n = static_cast<int64_t>(std::floor(steps));
  } else {
    // A path far longer than any frame's: the children are spread evenly over the same stretch,
    // and the path is used up. A full effect spawns none.
    n = Firework_->Full() ? 0 : TkzFirework::kMostTrailSpawnsPerStep;
    inc *= std::floor(steps) / static_cast<double>(n);
    used = 0.0;
    acc = std::isfinite(steps) ? std::fmod(acc, TrailStepSize) : 0.0;
  }
  double t = 0.0;
  const TKZ_Vectorf3 p = AParticle->Position;
  const TKZ_Vectorf3 o = AParticle->OldPosition;
  for (int64_t i = 0; i < n; ++i) {
    t += inc;
    AParticle->Position = {static_cast<float>(o[0] + static_cast<double>(d[0]) * t),
                           static_cast<float>(o[1] + static_cast<double>(d[1]) * t),
                           static_cast<float>(o[2] + static_cast<double>(d[2]) * t)};
    TrailSpawn_->SpawnFrom(AParticle, false);
    acc -= used;
  }
  AParticle->Position = p;
}

void TkzFireworkAmmoParticleNode::AmmoParticleRelease(PKZ_ParticleData AParticle, TKZ_Context* /*AContext*/) {
  if (Firework_ == nullptr) return;
  FreeAccumulator(*Firework_, *AParticle);
  DestructionSpawn_->SpawnFrom(AParticle, false);
}

// ---- TkzFireworkAmmoSpawnerNode ----

TkzFireworkAmmoSpawnerNode::TkzFireworkAmmoSpawnerNode()
    : Spawn_(std::make_unique<TkzFireworkAmmoParticleSpawn>()) {}

TkzFireworkAmmoSpawnerNode::~TkzFireworkAmmoSpawnerNode() = default;

void TkzFireworkAmmoSpawnerNode::SetFirework(TkzFirework* firework) {
  Firework_ = firework;
  Spawn_->SetFirework(firework);
}

void TkzFireworkAmmoSpawnerNode::SpawnerParticleStep(PKZ_ParticleData AParticle, TKZ_Context* /*AContext*/) {
  if (Firework_ == nullptr) return;
  double& acc = EnsureAccumulator(*Firework_, *AParticle);
  acc += Firework_->LastElapsed;
  // The spread is built around the spawner's direction; the particle itself stays at rest.
  const TKZ_Vectorf3 velocity = AParticle->Velocity;
  AParticle->Velocity = Direction;
  if (SpawnDelay > 0.0) {
    while (acc >= SpawnDelay) {
      Spawn_->SpawnFrom(AParticle, false);
      acc -= SpawnDelay;
    }
  }
  AParticle->Velocity = velocity;
}

void TkzFireworkAmmoSpawnerNode::SpawnerParticleRelease(PKZ_ParticleData AParticle, TKZ_Context* /*AContext*/) {
  if (Firework_ == nullptr) return;
  FreeAccumulator(*Firework_, *AParticle);
}

// ---- Actions ----

void TkzFireworkAddParticle::Execute() { Firework->AddParticle(Node, Position, Velocity, true, LifeTime); }

// ---- TkzFirework ----

TkzFirework::TkzFirework()
    : Context_(std::make_unique<TKZ_Context>()), SpawnerAppearance_(std::make_unique<TKZ_AppearanceModel>()) {}

TkzFirework::~TkzFirework() {
  // Queued particles are added, not dropped, before the context goes.
  FlushActions();
  ActionCache_.clear();
  Context_.reset();
  ClearNodes();
  SpawnerAppearance_.reset();
}

TkzFireworkAmmoParticleNode* TkzFirework::AddAmmoNode() {
  AmmoNodes_.push_back(std::make_unique<TkzFireworkAmmoParticleNode>());
  AmmoNodes_.back()->SetFirework(this);
  return AmmoNodes_.back().get();
}

TkzFireworkAmmoSpawnerNode* TkzFirework::AddSpawnerNode() {
  SpawnerNodes_.push_back(std::make_unique<TkzFireworkAmmoSpawnerNode>());
  SpawnerNodes_.back()->SetFirework(this);
  return SpawnerNodes_.back().get();
}

void TkzFirework::ClearNodes() {
  // The template must not keep pointing at a freed kind.
  TemplateNode_ = nullptr;
  for (auto& node : AmmoNodes_) node.reset();
  AmmoNodes_.clear();
  for (auto& node : SpawnerNodes_) node.reset();
  SpawnerNodes_.clear();
}

void TkzFirework::Launch(int32_t kind, const TKZ_Vectorf3& position, const TKZ_Vectorf3& velocity, double lifeTime) {
  if (kind < 0 || static_cast<size_t>(kind) >= AmmoNodes_.size())
    throw EFireworkKindError(
        Format("Launch kind %d out of bounds (%d launch kinds)", kind, static_cast<int32_t>(AmmoNodes_.size())));
  AddParticle(AmmoNodes_[static_cast<size_t>(kind)].get(), position, velocity, true, lifeTime);
}

void TkzFirework::Setup(int32_t kind, const TKZ_Vectorf3& location, double lifeTime) {
  if (kind < 0 || static_cast<size_t>(kind) >= SpawnerNodes_.size())
    throw EFireworkKindError(
        Format("Setup kind %d out of bounds (%d setup kinds)", kind, static_cast<int32_t>(SpawnerNodes_.size())));
  // Fountains count against the effect's limit like every other particle.
  if (Full()) return;
  TkzFireworkAmmoSpawnerNode* node = SpawnerNodes_[static_cast<size_t>(kind)].get();
  const TKZ_Vectorf3 at = location;
  TemplateNode_ = nullptr;
  Context_->ResetTemplate();
  Context_->SetTemplateLifetime(static_cast<float>(lifeTime));
  Context_->SetTemplateSize(0.0f, 0.0f);
  Context_->SetTemplateOnStep(TKZ_NotifyEvent::Bind<&TkzFireworkAmmoSpawnerNode::SpawnerParticleStep>(node));
  Context_->SetTemplateOnRelease(TKZ_NotifyEvent::Bind<&TkzFireworkAmmoSpawnerNode::SpawnerParticleRelease>(node));
  Context_->SetTemplateVelocity(0.0f, 0.0f, 0.0f);
  Context_->SetTemplateAppearanceModel(SpawnerAppearance_.get());
  Context_->EmitParticle(at);
}

void TkzFirework::ClearParticles() {
  Context_->Reset();
  TemplateNode_ = nullptr;
  // The particles vanished without their release hooks; their accumulators go with them (unless
  // the context refused to clear because it is walking its particles).
  if (Context_->GetParticleCount() == 0) {
    Accumulators_.clear();
    FreeAccumulators_.clear();
  }
}

void TkzFirework::AddParticle(TkzFireworkAmmoParticleNode* node, const TKZ_Vectorf3& position,
                              const TKZ_Vectorf3& velocity, bool immediate, double lifeTime) {
  if (node == nullptr) return;
  if (Full()) return;
  if (!immediate) {
    QueueAction(std::make_unique<TkzFireworkAddParticle>(this, node, position, velocity, lifeTime));
    return;
  }
  const TKZ_Vectorf3 at = position;
  const TKZ_Vectorf3 towards = velocity;
  if (std::isnan(lifeTime)) lifeTime = node->MinLifeTime + Random() * (node->MaxLifeTime - node->MinLifeTime);
  LoadTemplate(node);
  Context_->SetTemplateLifetime(static_cast<float>(lifeTime));
  Context_->SetTemplateVelocity(towards);
  Context_->EmitParticle(at);
}

bool TkzFirework::Full() const { return Context_->GetParticleCount() + ActionCache_.size() >= kMostParticles; }

void TkzFirework::QueueAction(std::unique_ptr<TkzFireworkActionCacheObject> action) {
  ActionCache_.push_back(std::move(action));
}

void TkzFirework::FlushActions() {
  std::vector<std::unique_ptr<TkzFireworkActionCacheObject>> actions;
  actions.swap(ActionCache_);
  for (auto& action : actions) {
    std::unique_ptr<TkzFireworkActionCacheObject> held = std::move(action);
    held->Execute();
  }
}

void TkzFirework::LoadTemplate(TkzFireworkAmmoParticleNode* node) {
  if (node == TemplateNode_) return;
  Context_->ResetTemplate();
  Context_->SetTemplateAppearanceModel(&node->ParticleAppearance());
  Context_->SetTemplateOnStep(TKZ_NotifyEvent::Bind<&TkzFireworkAmmoParticleNode::AmmoParticleStep>(node));
  Context_->SetTemplateOnRelease(TKZ_NotifyEvent::Bind<&TkzFireworkAmmoParticleNode::AmmoParticleRelease>(node));
  Context_->SetTemplateMass(static_cast<float>(node->Mass));
  Context_->SetTemplateForce(node->Force);
  Context_->SetTemplateAirResistance(static_cast<float>(node->AirResistance));
  TemplateNode_ = node;
}

void TkzFirework::Update(float elapsed) {
  LastElapsed = elapsed;
  Context_->Process(elapsed);
  FlushActions();
}

void TkzFirework::Render(bool with_state) { Context_->Draw(with_state); }

void TkzFirework::SetStorageMode(int32_t mode) { Context_->SetStorageMode(mode); }

void TkzFirework::SetSceneVector(float x, float y, float z) {
  TKZU_Effect::SetSceneVector(x, y, z);
  Context_->SetParameter(kzpWind, &SceneVector);
}

void TkzFirework::Unsupported(void*& /*first*/, void*& /*second*/, bool /*flag*/) {
  throw Exception("Currently fail.");
}

double* TkzFirework::AllocateAccumulator() {
  if (!FreeAccumulators_.empty()) {
    double* accumulator = FreeAccumulators_.back();
    FreeAccumulators_.pop_back();
    *accumulator = 0.0;
    return accumulator;
  }
  Accumulators_.push_back(0.0);
  return &Accumulators_.back();
}

void TkzFirework::ReleaseAccumulator(double* accumulator) {
  if (accumulator != nullptr) FreeAccumulators_.push_back(accumulator);
}
