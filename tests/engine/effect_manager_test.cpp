#include "engine/effect_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/random.h"
#include "tests/support/fake_gl.h"

namespace {
using EventLog = std::vector<std::string>;

// Records what the manager does to it in a log shared by all probes of a test.
class ProbeEffect : public TKZU_Effect {
 public:
  ProbeEffect(std::string name, EventLog* log) : name_(std::move(name)), log_(log) {}
  ~ProbeEffect() override { log_->push_back("free " + name_); }

  void Update(float elapsed) override {
    updates.push_back(elapsed);
    log_->push_back("update " + name_);
  }
  void Render(bool with_state) override { log_->push_back(std::string(with_state ? "render " : "plain ") + name_); }
  void SetStorageMode(int32_t mode) override { storage_modes.push_back(mode); }
  void SetSceneVector(float x, float y, float z) override {
    ++scene_calls_3;
    TKZU_Effect::SetSceneVector(x, y, z);
  }
  void SetSceneVector(const TKZ_Vectorf3& v) override {
    ++scene_calls_v;
    TKZU_Effect::SetSceneVector(v);
  }

  std::vector<float> updates;
  std::vector<int32_t> storage_modes;
  int scene_calls_3 = 0;
  int scene_calls_v = 0;

 private:
  std::string name_;
  EventLog* log_;
};

class EffectManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { InitEffectManagerModule(); }
  void TearDown() override {
    manager.Clear();
    DoneEffectManagerModule();
  }

  ProbeEffect* Add(const std::string& name, bool every_frame = false) {
    auto* e = new ProbeEffect(name, &log);
    manager.AddEffect(e, every_frame);
    return e;
  }
  std::vector<float> Elapsed() const {
    std::vector<float> out;
    for (uint32_t i = 0; i < manager.Count; ++i) out.push_back(manager.Effects[i]->Elapsed);
    return out;
  }

  FakeGL fake;  // identity matrices: the effect frustum is the cube [-1, 1]^3
  EventLog log;
  TKZU_EffectManager manager;
};
}  // namespace

TEST_F(EffectManagerTest, AddHandsOverSceneVectorHandlerStorageAndGrowsByTen) {
  manager.SetSceneVector(KZ_MakeVectorf3(1.0f, 2.0f, 3.0f));
  manager.SetSetting(0);
  auto* a = new ProbeEffect("a", &log);
  a->Finished = true;
  manager.AddEffect(a, false);
  EXPECT_EQ(a->scene_calls_v, 1);
  EXPECT_EQ(a->SceneVector, KZ_MakeVectorf3(1.0f, 2.0f, 3.0f));
  EXPECT_EQ(a->storage_modes, std::vector<int32_t>{0});
  EXPECT_FALSE(a->Finished);
  EXPECT_EQ(manager.Effects.size(), 10u);
  ASSERT_TRUE(a->OnFinished.Assigned());
  a->OnFinished(a);
  EXPECT_TRUE(a->Finished);

  // Adding the same effect again is refused: it would be freed twice.
  manager.AddEffect(a, true);
  EXPECT_EQ(manager.Count, 1u);
  EXPECT_FALSE(a->UpdateEveryFrame);
  manager.AddEffect(nullptr, false);
  EXPECT_EQ(manager.Count, 1u);

  for (int i = 1; i < 10; ++i) Add("e" + std::to_string(i));
  EXPECT_EQ(manager.Effects.size(), 10u);
  Add("e10");
  EXPECT_EQ(manager.Effects.size(), 20u);
  EXPECT_EQ(manager.Count, 11u);

  // Broadcasts reach every effect through the matching form.
  manager.SetSceneVector(4.0f, 5.0f, 6.0f);
  manager.SetSetting(2);
  auto* last = static_cast<ProbeEffect*>(manager.GetEffect(10));
  EXPECT_EQ(last->scene_calls_3, 1);
  EXPECT_EQ(last->SceneVector, KZ_MakeVectorf3(4.0f, 5.0f, 6.0f));
  EXPECT_EQ(last->storage_modes, (std::vector<int32_t>{0, 2}));

  manager.Clear();
  EXPECT_EQ(log.size(), 11u);  // all freed
  EXPECT_EQ(manager.Count, 0u);
  EXPECT_TRUE(manager.Effects.empty());
  Add("again");
  EXPECT_EQ(manager.Effects.size(), 10u);
}

TEST_F(EffectManagerTest, TimersAreStaggeredOverOneInterval) {
  for (const char* name : {"a", "b", "c", "d"}) Add(name);
  manager.SetInterval(1.0f);
  EXPECT_EQ(Elapsed(), (std::vector<float>{0.0f, 0.25f, 0.5f, 0.75f}));
  Add("e");
  EXPECT_EQ(Elapsed(), (std::vector<float>{0.0f, 0.2f, 0.4f, 0.6f, 0.8f}));
}

TEST_F(EffectManagerTest, UpdatesPassTheTimeGatheredBeforeTheFrame) {
  auto* zero = Add("zero");
  manager.Update(0.02f);
  manager.Update(0.03f);
  manager.Update(0.01f);
  // Interval 0: updated every time, with the previous frame's time.
  EXPECT_EQ(zero->updates, (std::vector<float>{0.0f, 0.02f, 0.03f}));
  EXPECT_FLOAT_EQ(zero->Elapsed, 0.01f);

  manager.Clear();
  auto* slow = Add("slow");
  auto* every = Add("every", true);
  manager.SetInterval(0.05f);  // every starts at 0.025
  manager.Update(0.02f);       // slow has 0: nothing yet
  EXPECT_TRUE(slow->updates.empty());
  manager.Update(0.02f);
  manager.Update(0.02f);  // 0.04: still short
  EXPECT_TRUE(slow->updates.empty());
  manager.Update(0.02f);
  ASSERT_EQ(slow->updates.size(), 1u);
  EXPECT_NEAR(slow->updates[0], 0.06f, 1e-6f);
  EXPECT_EQ(every->updates.size(), 4u);
  EXPECT_FLOAT_EQ(every->updates[0], 0.025f);
  EXPECT_FLOAT_EQ(every->updates[1], 0.02f);
}

TEST_F(EffectManagerTest, FinishedEffectIsDrawnThenFreedAndTheMovedOneHandledInTheSamePass) {
  // Camera at the origin looking down -z; distances 1, 2, 3 keep the array sorted.
  auto* a = Add("a");
  auto* b = Add("b");
  auto* c = Add("c");
  a->SetPosition(0.0f, 0.0f, -1.0f);
  b->SetPosition(0.0f, 0.0f, -2.0f);
  c->SetPosition(0.0f, 0.0f, -3.0f);
  manager.RemoveEffect(a);
  manager.Render(true);
  EXPECT_EQ(log, (EventLog{"render a", "render b", "render c"}));

  log.clear();
  manager.Update(0.01f);
  // a freed, c moved into slot 0 and updated in the same pass, then the array re-sorted.
  EXPECT_EQ(log, (EventLog{"free a", "update c", "update b"}));
  EXPECT_EQ(manager.Count, 2u);
  EXPECT_EQ(manager.GetEffect(0), b);
  EXPECT_EQ(manager.GetEffect(1), c);
  EXPECT_EQ(manager.Effects[2], nullptr);

  // A finish request is only a request; the effect's own OnFinished call marks it, and the last
  // effect leaves no one to move.
  manager.FinishAll();
  EXPECT_TRUE(c->FinishRequested);
  EXPECT_FALSE(c->Finished);
  c->OnFinished(c);
  log.clear();
  manager.Update(0.01f);
  EXPECT_EQ(log, (EventLog{"update b", "free c"}));

  // Removing an effect the manager does not hold only marks it.
  ProbeEffect outsider("outsider", &log);
  manager.RemoveEffect(&outsider);
  EXPECT_TRUE(outsider.Finished);
  manager.Update(0.01f);
  EXPECT_EQ(manager.Count, 1u);
}

TEST_F(EffectManagerTest, CulledEffectsKeepTheirTimeAndAreStillDrawn) {
  auto* e = Add("culled");
  e->CullEnabled = true;
  e->CullBoxMin = KZ_MakeVectorf3(5.0f, 5.0f, 5.0f);
  e->CullBoxMax = KZ_MakeVectorf3(6.0f, 6.0f, 6.0f);
  manager.Update(0.0f);
  e->Elapsed = 0.3f;
  manager.Update(0.1f);
  manager.Update(0.1f);
  EXPECT_TRUE(e->updates.empty());
  EXPECT_FLOAT_EQ(e->Elapsed, 0.3f);
  manager.Render(false);
  EXPECT_EQ(log, EventLog{"plain culled"});

  // The view moves onto the box (the manager's frustum follows the GL matrices).
  fake.modelview[12] = fake.modelview[13] = fake.modelview[14] = -5.5f;
  manager.Update(0.1f);
  EXPECT_EQ(e->updates, std::vector<float>{0.3f});
  EXPECT_FLOAT_EQ(e->Elapsed, 0.1f);
}

TEST_F(EffectManagerTest, ReSortsNearestFirstWhenTheOrderBreaks) {
  // Translation (0, 0, -10) with no rotation puts the sort origin at (0, 0, -10).
  TKZ_Matrixf4 view;
  KZ_IdentityMatrixf4(view);
  view.Col3 = KZ_MakeVectorf4(0.0f, 0.0f, -10.0f, 1.0f);
  auto* middle = Add("far");
  auto* nearest = Add("near");
  auto* farther = Add("farther");
  middle->SetPosition(0.0f, 0.0f, 0.0f);       // 10
  nearest->SetPosition(0.0f, 0.0f, -9.0f);     // 1
  farther->SetPosition(0.0f, 0.0f, -30.0f);   // 20
  manager.UpdateWithMatrix(view, 0.01f);
  EXPECT_EQ(manager.SortOrigin, KZ_MakeVectorf3(0.0f, 0.0f, -10.0f));
  EXPECT_EQ(manager.GetEffect(0), nearest);
  EXPECT_EQ(manager.GetEffect(1), middle);
  EXPECT_EQ(manager.GetEffect(2), farther);
  log.clear();
  manager.Render(true);
  EXPECT_EQ(log, (EventLog{"render near", "render far", "render farther"}));

  // A sorted scene costs no sort: the shared generator is not drawn from.
  RandSeed(7);
  const double expected = Random();
  RandSeed(7);
  manager.UpdateWithMatrix(view, 0.01f);
  EXPECT_EQ(Random(), expected);
}

TEST_F(EffectManagerTest, QuickSortOrdersManyEffectsAndCountsDuplicates) {
  RandSeed(1234);
  std::vector<ProbeEffect*> added;
  for (int i = 0; i < 60; ++i) {
    auto* e = Add("e" + std::to_string(i));
    // Many equal distances on purpose: both scans stop on them.
    e->SetPosition(static_cast<float>(Random(12)), 0.0f, 0.0f);
    added.push_back(e);
  }
  manager.SortByDistance();
  ASSERT_EQ(manager.Count, 60u);
  for (uint32_t i = 1; i < manager.Count; ++i)
    EXPECT_LE(manager.Effects[i - 1]->Position[0], manager.Effects[i]->Position[0]) << "at " << i;
  for (auto* e : added) EXPECT_GE(manager.IndexOf(e), 0);

  // Distances with no exact float square root: where a compiler keeps excess precision (x87), a
  // stored pivot can compare unequal to its own entry's distance recomputed; no scan may then run
  // past the live entries onto the empty slots after them.
  for (int i = 0; i < 3; ++i) added.push_back(Add("x" + std::to_string(i)));
  ASSERT_GT(manager.Effects.size(), manager.Count);
  for (uint32_t round = 0; round < 20; ++round) {
    for (uint32_t i = 0; i < manager.Count; ++i)
      manager.Effects[i]->SetPosition(0.1f * static_cast<float>(Random(97)), 0.3f * static_cast<float>(Random(89)),
                                      0.7f * static_cast<float>(Random(5)));
    manager.SortByDistance();
    std::vector<float> distances;  // stored, so compared at float precision
    for (uint32_t i = 0; i < manager.Count; ++i) distances.push_back(KZ_LengthVectorf3(manager.Effects[i]->Position));
    EXPECT_TRUE(std::is_sorted(distances.begin(), distances.end())) << "round " << round;
  }
  for (auto* e : added) EXPECT_GE(manager.IndexOf(e), 0);
}

TEST_F(EffectManagerTest, NothingAddedTouchesNoFrustum) {
  ASSERT_NE(KZU_EffectFrustum, nullptr);  // made by the module set-up
  manager.Update(0.1f);
  manager.Render(true);
  EXPECT_EQ(fake.Count("glGetFloatv"), 1u);  // the update's own read of the model-view
  EXPECT_EQ(KZU_EffectFrustum->ModelView[0], 0.0f);
  EXPECT_TRUE(log.empty());
}
