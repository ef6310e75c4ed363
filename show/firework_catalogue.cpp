#include "show/firework_catalogue.h"

#include <cmath>
#include <limits>

#include "framework/random.h"
#include "show/firework.h"

// Every kind is written as data: a keyframe row is "time, colour, size, cell" (a size or cell left out
// keeps the value of the keyframe before it), and a spawn row is "counts, angle, speed" as
// MinCount, MaxCount, MinAngle, MaxAngle (half turns, first number first), MinSpeed, MaxSpeed.
// Child kinds are built fresh for every place that uses them, so each tree owns its own copies.

namespace {
using Node = TkzFireworkAmmoParticleNode;
using NodePtr = std::unique_ptr<Node>;
using Colour = TKZ_Vectorf4;  // red, green, blue, alpha
using Rgb = TKZ_Vectorf3;

constexpr float kKeep = std::numeric_limits<float>::quiet_NaN();
constexpr int32_t kKeepCell = -1;
const TKZ_Vectorf3 kNoForce{0.0f, 0.0f, 0.0f};

struct Key {
  float time;
  Colour colour;
  float size = kKeep;  // width = height
  int32_t cell = kKeepCell;
};

// The values of one ammo kind; mass 0 lets the context use 1.
struct Ammo {
  double min_life;
  double max_life;
  double mass;
  TKZ_Vectorf3 force;
  double air_resistance;
  std::vector<Key> keys;
};

struct Rule {
  int32_t min_count;
  int32_t max_count;
  double min_angle;
  double max_angle;
  double min_speed;
  double max_speed;
};

// ---- Building blocks ----

void AddKeys(TKZ_AppearanceModel& model, const std::vector<Key>& keys) {
  for (const Key& key : keys) {
    model.AddKeyframe(key.time);
    model.SetColor(key.colour);
    if (!std::isnan(key.size)) model.SetSize(key.size, key.size);
    if (key.cell != kKeepCell) model.SetKeyframeInteger(static_cast<uint32_t>(key.cell));
  }
}

void SetValues(Node& node, const Ammo& ammo) {
  node.MinLifeTime = ammo.min_life;
  node.MaxLifeTime = ammo.max_life;
  node.Mass = ammo.mass;
  node.Force = ammo.force;
  node.AirResistance = ammo.air_resistance;
  AddKeys(node.ParticleAppearance(), ammo.keys);
}

NodePtr MakeNode(const Ammo& ammo) {
  auto node = std::make_unique<Node>();
  SetValues(*node, ammo);
  return node;
}

void SetSpawn(TkzFireworkAmmoParticleSpawn& spawn, const Rule& rule, NodePtr ammo) {
  spawn.MinCount = rule.min_count;
  spawn.MaxCount = rule.max_count;
  spawn.MinAngle = rule.min_angle;
  spawn.MaxAngle = rule.max_angle;
  spawn.MinSpeed = rule.min_speed;
  spawn.MaxSpeed = rule.max_speed;
  spawn.SetAmmo(std::move(ammo));
}

void SetTrail(Node& node, double step, const Rule& rule, NodePtr ammo) {
  node.TrailStepSize = step;
  SetSpawn(node.TrailSpawn(), rule, std::move(ammo));
}

// (f * red, f * green, f * blue, alpha) of K.
Colour Tint(const Colour& k, double f, double alpha) {
  return {static_cast<float>(f * k[0]), static_cast<float>(f * k[1]), static_cast<float>(f * k[2]),
          static_cast<float>(alpha)};
}

Colour WithAlpha(const Rgb& rgb, float alpha) { return {rgb[0], rgb[1], rgb[2], alpha}; }

float Tenth(int32_t i) { return static_cast<float>(i / 10.0); }

// ---- Shared sub-kinds ----

// Rocket body: life 0.5..0.5; 0: (1, 0.8, 0, 1), 0.25, cell 5; 1: (1, 0.8, 0.3, 1), 0.4.
void SetRocketBody(Node& rocket, double mass) {
  SetValues(rocket, {0.5, 0.5, mass, kNoForce, 0.0,
                     {{0.0f, {1, 0.8f, 0, 1}, 0.25f, 5},
                      {1.0f, {1, 0.8f, 0.3f, 1}, 0.4f}}});
}

// Smoke puff: force (x, 0, z), x and z each (2 Random - 1) / 1000, x drawn first.
NodePtr SmokePuff() {
  const auto x = static_cast<float>((2.0 * Random() - 1.0) / 1000.0);
  const auto z = static_cast<float>((2.0 * Random() - 1.0) / 1000.0);
  return MakeNode({8, 10, 0.1, {x, 0, z}, 0.0,
                   {{0.0f, {0.1f, 0.1f, 0.1f, 0}, 0.0f, 0},
                    {0.1f, {0.1f, 0.1f, 0.1f, 0.1f}, 0.4f},
                    {0.9f, {0.1f, 0.1f, 0.1f, 0}, 3.6f},
                    {1.0f, {0.1f, 0.1f, 0.1f, 0}, 4.0f}}});
}

// Spark; with smoke, it dies into no puff or one.
NodePtr Spark(bool smoke) {
  NodePtr spark = MakeNode({0.05, 0.1, 0.4, kNoForce, 0.0,
                            {{0.0f, {1, 0.8f, 0, 0.2f}, 0.1f, 1},
                             {0.8f, {1, 0.8f, 0.15f, 0.2f}},
                             {1.0f, {1, 0.8f, 0.3f, 0}, 0.2f}}});
  if (smoke) SetSpawn(spark->DestructionSpawn(), {0, 1, 0, 0, 0, 0}, SmokePuff());
  return spark;
}

// Spark trail, given to every rocket body: sparks fly backwards.
void SetSparkTrail(Node& rocket, bool smoke) {
  SetTrail(rocket, 0.02, {1, 2, 0, 0.15, -0.6, -0.5}, Spark(smoke));
}

// Star trail spark(n, K), in P, a pale tint of K.
NodePtr StarTrailSpark(int32_t n, const Colour& k) {
  const Rgb p{static_cast<float>(0.1 * k[0] + 0.9), static_cast<float>(0.1 * k[1] + 0.9),
              static_cast<float>(0.1 * k[2] + 0.9)};
  return MakeNode({0.2, 0.2, 0, kNoForce, 0.0,
                   {{0.0f, WithAlpha(p, 0), 0.125f, n},
                    {0.2f, WithAlpha(p, 0.2f), 0.2f},
                    {1.0f, WithAlpha(p, 0), 0.15f}}});
}

// ---- Burst children and their trails ----

// The colour cycle of the rainbow kinds: red, yellow, green, cyan, blue, magenta, red, yellow, green.
const Rgb kRainbowCycle[9] = {{1, 0.2f, 0.2f}, {1, 1, 0.2f},    {0.2f, 1, 0.2f}, {0.2f, 1, 1}, {0.2f, 0.2f, 1},
                              {1, 0.2f, 1},    {1, 0.2f, 0.2f}, {1, 1, 0.2f},    {0.2f, 1, 0.2f}};

struct LaunchKind;
using ChildMaker = NodePtr (*)(const LaunchKind& kind);
using TrailMaker = void (*)(Node& child, const LaunchKind& kind);

// burst spawn | burst child | child's trail (none: nullptr)
struct Family {
  Rule burst;
  ChildMaker child;
  TrailMaker trail;
};

struct LaunchKind {
  const Family* family;
  int32_t n;  // cell of the star trail
  Colour k;   // colour of the burst
};

NodePtr GoldStar(const LaunchKind&) {
  return MakeNode({0.8, 1, 0.4, {0, -0.981f, 0}, 0.0,
                   {{0.0f, {1, 0.8f, 0, 1}, 0.25f, 4},
                    {0.8f, {1, 1, 1, 1}},
                    {1.0f, {1, 1, 1, 0}, 0.4f}}});
}

NodePtr Flash() {
  return MakeNode({0.09, 0.11, 0, kNoForce, 0.0,
                   {{0.0f, {1, 1, 1, 0.3f}, 0.3f, 5},
                    {0.5f, {1, 1, 1, 0.6f}},
                    {1.0f, {1, 1, 1, 0}}}});
}

NodePtr Glitter() {
  NodePtr glitter = MakeNode({1.3, 1.5, 0, kNoForce, 0.0,
                              {{0.0f, {1, 0.8f, 0, 0}, 0.1f, 5},
                               {0.5f, {0.95f, 0.7f, 0, 0.5f}, 0.15f},
                               {1.0f, {0.9f, 0.6f, 0, 0.25f}, 0.2f}}});
  SetSpawn(glitter->DestructionSpawn(), {1, 2, 0, 0, 0, 0}, Flash());
  return glitter;
}

void GlitterTrail(Node& star, const LaunchKind&) { SetTrail(star, 0.02, {1, 1, 0, 2, 0, 0.1}, Glitter()); }

// Coloured star(K, drag, start): S = start * K's red, green, blue; the peak scales them by `peak`.
NodePtr ColouredStar(const Colour& k, double drag, double start, double peak) {
  return MakeNode({0.6, 0.6, 0, {0, -3, 0}, drag,
                   {{0.0f, Tint(k, start, 0), 0.25f, 5},
                    {0.2f, Tint(k, peak, k[3]), 0.4f},
                    {0.8f, k, 0.3f},
                    {1.0f, Tint(k, 1, 0), 0.15f}}});
}
NodePtr RingStar(const LaunchKind& kind) { return ColouredStar(kind.k, 2, 1.0, 1.0); }    // drag 2, plain start
NodePtr SphereStar(const LaunchKind& kind) { return ColouredStar(kind.k, 1, 0.8, 0.9); }  // drag 1, dimmed start

void StarTrail(Node& star, const LaunchKind& kind) {
  SetTrail(star, 0.025, {1, 1, 0, 0, 0, 0.1}, StarTrailSpark(kind.n, kind.k));
}

NodePtr BloomPuff(const LaunchKind& kind) {
  const Colour& k = kind.k;
  return MakeNode({0.6, 0.6, 0, kNoForce, 4.0,
                   {{0.0f, Tint(k, 0.8, 0), 0.2f, 0},
                    {0.2f, k, 0.6f},
                    {0.8f, Tint(k, 0.9, 0.75 * k[3]), 0.9f},
                    {1.0f, Tint(k, 0.75, 0), 1.0f}}});
}

NodePtr RainbowStar(const LaunchKind&) {
  Ammo star{0.6, 0.6, 0, {0, -3, 0}, 1.0, {{0.0f, {1, 1, 1, 0}, 0.1f, 5}}};
  for (int32_t k = 1; k <= 9; ++k) star.keys.push_back({Tenth(k), WithAlpha(kRainbowCycle[k - 1], 1), 0.4f});
  star.keys.push_back({1.0f, {1, 1, 1, 0}, 0.1f});
  return MakeNode(star);
}

NodePtr RainbowSpark() {
  Ammo spark{0.2, 0.2, 0, kNoForce, 0.0, {{0.0f, {1, 1, 1, 0}, 0.1f, 2}}};
  for (int32_t k = 1; k <= 9; ++k)
    spark.keys.push_back(
        {Tenth(k), WithAlpha(kRainbowCycle[k - 1], 0.2f), static_cast<float>(0.2 - 0.005 * (k - 1))});
  spark.keys.push_back({1.0f, {1, 1, 1, 0}, 0.155f});
  return MakeNode(spark);
}

void RainbowTrail(Node& star, const LaunchKind&) { SetTrail(star, 0.025, {1, 1, 0, 0, 0, 0.1}, RainbowSpark()); }

// ---- Launch kinds ----

//                            burst: counts  angle      speed   burst child  child's trail
const Family kGlitterBurst = {{5, 10, 2.0, 0.0, 1, 2}, GoldStar, GlitterTrail};
const Family kRing = {{10, 15, 0.55, 0.45, 7, 8}, RingStar, StarTrail};
const Family kSphere = {{7, 10, 2.0, 0.0, 5, 6}, SphereStar, StarTrail};         // A = 2.0
const Family kSphereCone = {{7, 10, 0.25, 0.0, 5, 6}, SphereStar, StarTrail};    // A = 0.25
const Family kBloom = {{10, 15, 2.0, 0.0, 1, 2}, BloomPuff, nullptr};
const Family kRainbow = {{7, 10, 2.0, 0.0, 5, 6}, RainbowStar, RainbowTrail};

// Index = launch kind.      family          n  K
const LaunchKind kLaunchKinds[kFireworkLaunchKinds] = {
    /*  0 */ {&kGlitterBurst, 0, {}},
    /*  1 */ {&kRing, 3, {1, 0.2f, 0.2f, 0.7f}},
    /*  2 */ {&kRing, 8, {1, 0.8f, 0.2f, 0.7f}},
    /*  3 */ {&kRing, 7, {0.2f, 1, 0.2f, 0.7f}},
    /*  4 */ {&kRing, 6, {0.2f, 0.2f, 1, 0.7f}},
    /*  5 */ {&kSphere, 3, {1, 0.2f, 0.2f, 0.7f}},
    /*  6 */ {&kSphere, 8, {1, 0.8f, 0.2f, 0.7f}},
    /*  7 */ {&kSphere, 7, {0.2f, 1, 0.2f, 0.7f}},
    /*  8 */ {&kSphere, 6, {0.2f, 0.2f, 1, 0.7f}},
    /*  9 */ {&kSphereCone, 3, {1, 0.2f, 0.2f, 0.7f}},
    /* 10 */ {&kSphereCone, 8, {1, 0.8f, 0.2f, 0.7f}},
    /* 11 */ {&kSphereCone, 7, {0.2f, 1, 0.2f, 0.7f}},
    /* 12 */ {&kSphereCone, 6, {0.2f, 0.2f, 1, 0.7f}},
    /* 13 */ {&kBloom, 0, {1, 0.8f, 0.3f, 0.7f}},
    /* 14 */ {&kBloom, 0, {1, 0.2f, 0.2f, 0.7f}},
    /* 15 */ {&kBloom, 0, {0.2f, 1, 0.2f, 0.7f}},
    /* 16 */ {&kBloom, 0, {0.2f, 0.2f, 1, 0.7f}},
    /* 17 */ {&kRainbow, 0, {}},
};

// Kind 0 alone has a rocket of mass 0.4.
constexpr double kKindZeroRocketMass = 0.4;

void AddLaunchKind(TkzFirework& firework, int32_t index, bool smoke) {
  const LaunchKind& kind = kLaunchKinds[index];
  Node& rocket = *firework.AddAmmoNode();
  SetRocketBody(rocket, index == 0 ? kKindZeroRocketMass : 0.0);
  SetSparkTrail(rocket, smoke);
  NodePtr child = kind.family->child(kind);
  if (kind.family->trail != nullptr) kind.family->trail(*child, kind);
  SetSpawn(rocket.DestructionSpawn(), kind.family->burst, std::move(child));
}

// ---- Setup kinds: fountains ----

// Index = setup kind: K.
const Colour kSetupKinds[kFireworkSetupKinds] = {
    /* 0 */ {0.8f, 0.9f, 1, 1},
    /* 1 */ {0.8f, 1, 0.9f, 1},
    /* 2 */ {1, 0.8f, 0.8f, 1},
    /* 3 */ {1, 0.8f, 0.5f, 1},
};

NodePtr FountainDrop(const Colour& k) {
  Ammo drop{1, 2, 0, {0, -9.81f, 0}, 0.0, {{0.0f, Tint(k, 1, 0), 0.2f, 5}}};
  for (int32_t i = 1; i <= 9; ++i) drop.keys.push_back({Tenth(i), i % 2 == 1 ? Tint(k, 0.9, 0.3 * k[3]) : k, 0.2f});
  drop.keys.push_back({1.0f, Tint(k, 1, 0), 0.0f});
  return MakeNode(drop);
}

void AddSetupKind(TkzFirework& firework, const Colour& k) {
  TkzFireworkAmmoSpawnerNode& fountain = *firework.AddSpawnerNode();
  fountain.SpawnDelay = 0.1;
  fountain.Direction = {0, 1, 0};
  SetSpawn(fountain.Spawn(), {4, 6, 0, 0.1, 6, 8}, FountainDrop(k));
}
}  // namespace

void BuildSpareAppearanceModels(AppearanceModelList& models) {
  auto one = std::make_unique<TKZ_AppearanceModel>();
  AddKeys(*one, {{0.0f, {0.5f, 0.6f, 0.7f, 0}, 0.25f, 0},
                 {0.1f, {0.5f, 0.6f, 0.7f, 0.4f}},
                 {0.25f, {0.8f, 0.8f, 0.2f, 0.4f}},
                 {0.5f, {0.8f, 0.5f, 0.1f, 0.4f}},
                 {1.0f, {0.8f, 0, 0, 0}}});
  models.push_back(std::move(one));

  auto two = std::make_unique<TKZ_AppearanceModel>();
  AddKeys(*two, {{0.0f, {0.5f, 0.5f, 0.5f, 0}, 0.25f, 0},
                 {0.5f, {0.5f, 0.5f, 0.5f, 1}, 1.125f},
                 {1.0f, {0.5f, 0.5f, 0.5f, 0}, 2.0f}});
  models.push_back(std::move(two));
}

void BuildFireworkKinds(TkzFirework& firework, bool smoke) {
  firework.SpawnDelay = 0.75;
  firework.PlaneWidth = 6;
  firework.PlaneDepth = 6;
  for (int32_t index = 0; index < kFireworkLaunchKinds; ++index) AddLaunchKind(firework, index, smoke);
  for (const Colour& k : kSetupKinds) AddSetupKind(firework, k);
}

void BuildFireworkCatalogue(TkzFirework& firework, bool smoke, AppearanceModelList& spare_models) {
  BuildSpareAppearanceModels(spare_models);
  BuildFireworkKinds(firework, smoke);
}
