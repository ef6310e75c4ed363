#pragma once
// The firework effect: a scene effect that owns one particle context and two catalogues of kinds.
// Ammo kinds describe a visible particle (look, mass, life) and what it spawns along its path and
// when it dies; spawner kinds describe an invisible particle that stays at one place and emits ammo
// at a fixed rate. A launch puts one ammo particle into the context, a setup one spawner particle;
// everything after that happens in the particles' step and release hooks. The hooks run while the
// context walks its particles and refuses new ones, so every spawn is queued in the action cache
// and carried out right after the walk.
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "engine/appearance.h"
#include "engine/delegate.h"
#include "engine/effect_manager.h"
#include "engine/particles.h"
#include "engine/vectors.h"
#include "framework/exceptions.h"
#include "show/song_script.h"

class TKZ_Context;
class TkzFirework;
class TkzFireworkAmmoParticleNode;

// Launch or Setup with a kind that the catalogue lacks. An EListError, so callers that catch list
// index errors catch it too; the message names the kind that was asked for.
STARLACE_DECLARE_EXCEPTION(EFireworkKindError, EListError);

using TkzFireworkNodeNotifyEvent = KZ_Delegate<TkzFireworkAmmoParticleNode*>;

// One spawn rule: between MinCount and MaxCount children of kind Ammo, spread around the parent's
// direction by MinAngle..MaxAngle half turns, at MinSpeed..MaxSpeed. A fresh rule adds nothing.
class TkzFireworkAmmoParticleSpawn {
 public:
  explicit TkzFireworkAmmoParticleSpawn(TkzFirework* firework = nullptr);
  virtual ~TkzFireworkAmmoParticleSpawn();
  TkzFireworkAmmoParticleSpawn(const TkzFireworkAmmoParticleSpawn&) = delete;
  TkzFireworkAmmoParticleSpawn& operator=(const TkzFireworkAmmoParticleSpawn&) = delete;

  // Takes ownership of `node` and hands it this rule's effect. The previous kind is freed, so this is
  // for building the catalogue, not for kinds that live particles or queued actions use.
  void SetAmmo(std::unique_ptr<TkzFireworkAmmoParticleNode> node);
  void SetFirework(TkzFirework* firework);
  // Adds the children of one spawn at `particle`'s position, around its velocity. Called from the
  // particle hooks with immediate = false, so the children are queued.
  void SpawnFrom(PKZ_ParticleData particle, bool immediate);

  TkzFirework* Firework() const { return Firework_; }
  TkzFireworkAmmoParticleNode* Ammo() const { return Ammo_.get(); }

  int32_t MinCount = 0;
  int32_t MaxCount = 0;
  double MinSpeed = 0.0;
  double MaxSpeed = 0.0;
  double MinAngle = 0.0;  // half turns: the angle in radians is this value times pi
  double MaxAngle = 0.0;

 private:
  TkzFirework* Firework_;  // not owned
  std::unique_ptr<TkzFireworkAmmoParticleNode> Ammo_;
};

// One ammo kind. Owns its appearance model and its two spawn rules, and so the whole tree of kinds
// below it.
class TkzFireworkAmmoParticleNode {
 public:
  TkzFireworkAmmoParticleNode();
  virtual ~TkzFireworkAmmoParticleNode();
  TkzFireworkAmmoParticleNode(const TkzFireworkAmmoParticleNode&) = delete;
  TkzFireworkAmmoParticleNode& operator=(const TkzFireworkAmmoParticleNode&) = delete;

  void SetFirework(TkzFirework* firework);
  void Notify();

  // Particle hooks: spawns the trail every TrailStepSize of path; spawns the burst on release.
  void AmmoParticleStep(PKZ_ParticleData AParticle, TKZ_Context* AContext);
  void AmmoParticleRelease(PKZ_ParticleData AParticle, TKZ_Context* AContext);

  TKZ_AppearanceModel& ParticleAppearance() const { return *ParticleAppearance_; }
  TkzFireworkAmmoParticleSpawn& DestructionSpawn() const { return *DestructionSpawn_; }
  TkzFireworkAmmoParticleSpawn& TrailSpawn() const { return *TrailSpawn_; }
  TkzFirework* Firework() const { return Firework_; }

  double AirResistance = 0.0;
  TkzFireworkNodeNotifyEvent OnNotify;
  double MinLifeTime = 0.0;
  double MaxLifeTime = 0.0;
  double TrailStepSize = 1.0;  // path length between two trail spawns; must be above 0
  double Mass = 0.0;           // not above 0 means 1 (the context's rule)
  TKZ_Vectorf3 Force{0.0f, 0.0f, 0.0f};

 private:
  std::unique_ptr<TKZ_AppearanceModel> ParticleAppearance_;
  std::unique_ptr<TkzFireworkAmmoParticleSpawn> DestructionSpawn_;
  std::unique_ptr<TkzFireworkAmmoParticleSpawn> TrailSpawn_;
  TkzFirework* Firework_ = nullptr;  // not owned
};

// One spawner kind: emits Spawn every SpawnDelay seconds, spread around Direction.
class TkzFireworkAmmoSpawnerNode {
 public:
  TkzFireworkAmmoSpawnerNode();
  virtual ~TkzFireworkAmmoSpawnerNode();
  TkzFireworkAmmoSpawnerNode(const TkzFireworkAmmoSpawnerNode&) = delete;
  TkzFireworkAmmoSpawnerNode& operator=(const TkzFireworkAmmoSpawnerNode&) = delete;

  void SetFirework(TkzFirework* firework);

  void SpawnerParticleStep(PKZ_ParticleData AParticle, TKZ_Context* AContext);
  void SpawnerParticleRelease(PKZ_ParticleData AParticle, TKZ_Context* AContext);

  TkzFireworkAmmoParticleSpawn& Spawn() const { return *Spawn_; }
  TkzFirework* Firework() const { return Firework_; }

  double SpawnDelay = 0.0;  // seconds between two emissions; must be above 0
  TKZ_Vectorf3 Direction{0.0f, 0.0f, 0.0f};

 private:
  std::unique_ptr<TkzFireworkAmmoParticleSpawn> Spawn_;
  TkzFirework* Firework_ = nullptr;  // not owned
};

// A deferred action of the firework, carried out by FlushActions.
class TkzFireworkActionCacheObject {
 public:
  explicit TkzFireworkActionCacheObject(TkzFirework* firework) : Firework(firework) {}
  virtual ~TkzFireworkActionCacheObject() = default;
  virtual void Execute() = 0;

  TkzFirework* Firework;
};

// The deferred adding of one ammo particle.
class TkzFireworkAddParticle : public TkzFireworkActionCacheObject {
 public:
  TkzFireworkAddParticle(TkzFirework* firework, TkzFireworkAmmoParticleNode* node, const TKZ_Vectorf3& position,
                         const TKZ_Vectorf3& velocity, double lifeTime)
      : TkzFireworkActionCacheObject(firework), Node(node), Position(position), Velocity(velocity),
        LifeTime(lifeTime) {}
  void Execute() override;

  TkzFireworkAmmoParticleNode* Node;  // not owned
  TKZ_Vectorf3 Position;
  TKZ_Vectorf3 Velocity;
  double LifeTime;  // NaN: drawn from the kind's range
};

// Also the target that the song script's launch and setup actions drive.
class TkzFirework : public TKZU_Effect, public SongScriptTarget {
 public:
  TkzFirework();
  ~TkzFirework() override;

  // A new kind at the end of its list; its index is the kind number of Launch / Setup.
  TkzFireworkAmmoParticleNode* AddAmmoNode();
  TkzFireworkAmmoSpawnerNode* AddSpawnerNode();
  // Frees every kind. Live particles and queued actions point at their kinds, so this runs only
  // when there are none (the destructor calls it after the context is gone).
  void ClearNodes();

  // One ammo particle of launch kind `kind`. A lifeTime of NaN picks one between the kind's least and
  // greatest life time. An unknown kind raises EFireworkKindError and adds nothing.
  void Launch(int32_t kind, const TKZ_Vectorf3& position, const TKZ_Vectorf3& velocity, double lifeTime) override;
  // One spawner particle of setup kind `kind` at `location`, living lifeTime seconds. An unknown kind
  // raises EFireworkKindError and adds nothing; a full effect adds nothing either. Not to be called while
  // the context walks its particles.
  void Setup(int32_t kind, const TKZ_Vectorf3& location, double lifeTime) override;
  // Removes every particle and resets the context; the next launch loads its kind afresh.
  void ClearParticles();
  // Adds one particle of `node` now, or queues it when `immediate` is false.
  void AddParticle(TkzFireworkAmmoParticleNode* node, const TKZ_Vectorf3& position, const TKZ_Vectorf3& velocity,
                   bool immediate, double lifeTime);
  void QueueAction(std::unique_ptr<TkzFireworkActionCacheObject> action);
  // Carries out the queued actions in the order queued and frees them.
  void FlushActions();
  // Loads the kind into the context's template, unless it is loaded already.
  void LoadTemplate(TkzFireworkAmmoParticleNode* node);

  void Update(float elapsed) override;
  void Render(bool with_state) override;
  void SetStorageMode(int32_t mode) override;
  using TKZU_Effect::SetSceneVector;
  // Also hands the vector to the context as its wind.
  void SetSceneVector(float x, float y, float z) override;

  // Not supported; raises Exception "Currently fail.".
  [[noreturn]] void Unsupported(void*& first, void*& second, bool flag);

  // The particle accumulators (path length or elapsed time) kept in UserData. They live in the effect
  // rather than on the heap one by one, so particles that vanish without their release hook (a
  // context reset, the context's destruction) leave nothing behind.
  double* AllocateAccumulator();
  void ReleaseAccumulator(double* accumulator);

  TKZ_Context& Context() const { return *Context_; }
  const std::vector<std::unique_ptr<TkzFireworkAmmoParticleNode>>& AmmoNodes() const { return AmmoNodes_; }
  const std::vector<std::unique_ptr<TkzFireworkAmmoSpawnerNode>>& SpawnerNodes() const { return SpawnerNodes_; }
  const std::vector<std::unique_ptr<TkzFireworkActionCacheObject>>& ActionCache() const { return ActionCache_; }
  TkzFireworkAmmoParticleNode* TemplateNode() const { return TemplateNode_; }
  TKZ_AppearanceModel& SpawnerAppearance() const { return *SpawnerAppearance_; }

  // Bounds that keep a frame's work finite however long the step (a skip, a stalled machine) or
  // however many launches and setups: the particles alive and queued together, beyond which new ones are
  // dropped; and the trail children one particle spawns in one step, beyond which they are spread
  // over its path more thinly. An ordinary show stays far below both.
  static constexpr uint32_t kMostParticles = 50000;
  static constexpr int64_t kMostTrailSpawnsPerStep = 1000;
  // Whether new particles are dropped now.
  bool Full() const;

  double SpawnDelay = 1.0;  // stored only
  double LastElapsed = 0.0;  // the time given to the last Update
  double PlaneDepth = 0.0;  // stored only
  double PlaneWidth = 0.0;  // stored only

 private:
  std::vector<std::unique_ptr<TkzFireworkAmmoParticleNode>> AmmoNodes_;
  std::vector<std::unique_ptr<TkzFireworkAmmoSpawnerNode>> SpawnerNodes_;
  std::unique_ptr<TKZ_Context> Context_;
  std::vector<std::unique_ptr<TkzFireworkActionCacheObject>> ActionCache_;
  TkzFireworkAmmoParticleNode* TemplateNode_ = nullptr;  // a cache, not owned
  std::unique_ptr<TKZ_AppearanceModel> SpawnerAppearance_;
  std::deque<double> Accumulators_;      // stable addresses
  std::vector<double*> FreeAccumulators_;
};

// (a.x*b.x, a.y*b.y, a.z*b.z).
TKZ_Vectorf3 KZ_MulVectorf3(const TKZ_Vectorf3& a, const TKZ_Vectorf3& b);
// v*cos(theta) + (k x v)*sin(theta) + (k o v o k)*(1 - cos(theta)), o being the component-wise
// product. The last term equals the rotation's k*(k.v)*(1 - cos) only for k along a coordinate axis
// (the directions the show launches along); other directions are turned with it as it stands.
TKZ_Vectorf3 KZ_RotateVectorf3(const TKZ_Vectorf3& k, const TKZ_Vectorf3& v, double theta);
// Writes "[Vertex: x, y, z]" with two decimals and a line end to standard output.
void PrintVertex(const TKZ_Vectorf3& v);
