#include <gtest/gtest.h>

#include <vector>

#include "engine/appearance.h"
#include "engine/context.h"
#include "engine/particles.h"

namespace {

std::vector<int32_t> ChainOrder(TKZ_LinkedList& list) {
  std::vector<int32_t> order;
  for (PKZ_ListNode n = list.Head(); n; n = list.NextOf(n)) order.push_back(n->Index);
  return order;
}

std::vector<int32_t> BackwardOrder(TKZ_LinkedList& list) {
  std::vector<int32_t> order;
  for (PKZ_ListNode n = list.Tail(); n; n = list.PrevOf(n)) order.insert(order.begin(), n->Index);
  return order;
}

class TrackedModel : public TKZ_AppearanceModel {
 public:
  explicit TrackedModel(int* deaths) : deaths_(deaths) {}
  ~TrackedModel() override { ++*deaths_; }

 private:
  int* deaths_;
};

struct ReleaseProbe {
  TKZ_LinkedList* list = nullptr;
  uint32_t count_seen = 99;
  uint32_t free_seen = 0;
  int32_t top_seen = -1;
  float x_seen = 0;
  TKZ_Context* context_seen = nullptr;
  void OnRelease(PKZ_ParticleData p, TKZ_Context* c) {
    count_seen = list->Count;
    free_seen = list->FreeCount;
    top_seen = list->FreeIndices[list->FreeCount - 1];
    x_seen = p->Position[0];
    context_seen = c;
  }
};

}  // namespace

TEST(ParticlePool, SlotOrderAfterAddReserveAndRelease) {
  TKZ_LinkedList grown;
  EXPECT_EQ(grown.Add()->Index, 0);
  EXPECT_EQ(grown.Items.size(), 10u);
  EXPECT_EQ(grown.FreeCount, 9u);
  EXPECT_EQ(grown.Add()->Index, 1);
  EXPECT_EQ(grown.Add()->Index, 2);
  EXPECT_EQ(grown.Add()->Index, 3);
  EXPECT_EQ(ChainOrder(grown), (std::vector<int32_t>{0, 1, 2, 3}));
  EXPECT_EQ(BackwardOrder(grown), (std::vector<int32_t>{0, 1, 2, 3}));

  // Release from the middle: the neighbours join and the slot comes back first.
  grown.Release(grown.Node(1), nullptr);
  EXPECT_EQ(ChainOrder(grown), (std::vector<int32_t>{0, 2, 3}));
  EXPECT_EQ(BackwardOrder(grown), (std::vector<int32_t>{0, 2, 3}));
  EXPECT_EQ(grown.Add()->Index, 1);
  EXPECT_EQ(ChainOrder(grown), (std::vector<int32_t>{0, 2, 3, 1}));
  EXPECT_EQ(grown.Items.size(), grown.Count + grown.FreeCount);

  TKZ_LinkedList reserved;
  reserved.Reserve(5);
  EXPECT_EQ(reserved.FreeCount, 5u);
  EXPECT_EQ((std::vector<int32_t>(reserved.FreeIndices.begin(), reserved.FreeIndices.begin() + 5)),
            (std::vector<int32_t>{4, 3, 2, 1, 0}));
  EXPECT_EQ(reserved.Add()->Index, 0);
  reserved.Reserve(5);  // not above Count + FreeCount: nothing
  reserved.Reserve(3);
  EXPECT_EQ(reserved.Items.size(), 5u);
  EXPECT_EQ(reserved.FreeCount, 4u);
  reserved.Reserve(7);  // two more, the lower one on top
  EXPECT_EQ(reserved.Items.size(), 7u);
  EXPECT_EQ(reserved.FreeIndices[reserved.FreeCount - 1], 5);

  TKZ_LinkedList single;
  PKZ_ListNode only = single.Add();
  single.Release(only, nullptr);
  EXPECT_EQ(single.First, -1);
  EXPECT_EQ(single.Last, -1);
  EXPECT_EQ(single.Count, 0u);
  EXPECT_EQ(single.Add()->Index, 0);

  // A growth step of 0 still hands out a slot.
  TKZ_LinkedList stepless;
  stepless.GrowthStep = 0;
  EXPECT_EQ(stepless.Add()->Index, 0);
  EXPECT_EQ(stepless.Add()->Index, 1);
  stepless.Release(stepless.Node(0), nullptr);
  EXPECT_EQ(stepless.Count, 1u);
  EXPECT_EQ(stepless.Add()->Index, 0);
}

TEST(ParticlePool, ReleaseHookRunsAfterTheSlotIsFreedWithTheRecordIntact) {
  TKZ_LinkedList list;
  ReleaseProbe probe;
  probe.list = &list;
  list.Add();
  PKZ_ListNode node = list.Add();
  node->Data.Position = {7, 8, 9};
  node->Data.OnRelease = TKZ_NotifyEvent::Bind<&ReleaseProbe::OnRelease>(&probe);
  TKZ_Context* marker = reinterpret_cast<TKZ_Context*>(&probe);
  list.Release(node, marker);
  EXPECT_EQ(probe.count_seen, 1u);
  EXPECT_EQ(probe.free_seen, 9u);
  EXPECT_EQ(probe.top_seen, 1);
  EXPECT_EQ(probe.x_seen, 7.0f);
  EXPECT_EQ(probe.context_seen, marker);
}

TEST(ParticlePool, ReleaseCountsAppearanceReferencesAndFreesOnlyAutoFreeModels) {
  int deaths = 0;
  auto* kept = new TrackedModel(&deaths);
  auto* freed = new TrackedModel(&deaths);
  freed->AutoFree = true;
  TKZ_LinkedList list;
  for (TKZ_AppearanceModel* m : {static_cast<TKZ_AppearanceModel*>(kept), static_cast<TKZ_AppearanceModel*>(kept),
                                 static_cast<TKZ_AppearanceModel*>(freed), static_cast<TKZ_AppearanceModel*>(freed)}) {
    PKZ_ListNode n = list.Add();
    n->Data.Appearance = m;
    ++m->RefCount;
  }
  list.Release(list.Node(0), nullptr);
  list.Release(list.Node(1), nullptr);
  EXPECT_EQ(kept->RefCount, 0u);
  list.Release(list.Node(2), nullptr);
  EXPECT_EQ(deaths, 0);
  EXPECT_EQ(freed->RefCount, 1u);
  list.Release(list.Node(3), nullptr);
  EXPECT_EQ(deaths, 1);  // the auto-free one, at its last release
  EXPECT_EQ(list.Items[3].Data.Appearance, nullptr);

  // A model put on a particle by hand (count already 0) is not wrapped round.
  PKZ_ListNode n = list.Add();
  n->Data.Appearance = kept;
  list.Release(n, nullptr);
  EXPECT_EQ(kept->RefCount, 0u);
  delete kept;

  // Nor is an auto-free model freed from under the other particles that a hook gave it by hand.
  auto* shared = new TrackedModel(&deaths);
  shared->AutoFree = true;
  PKZ_ListNode a = list.Add();
  PKZ_ListNode b = list.Add();
  a->Data.Appearance = shared;
  b->Data.Appearance = shared;
  list.Release(a, nullptr);
  EXPECT_EQ(deaths, 2);  // `kept` only
  EXPECT_EQ(b->Data.Appearance, shared);
  if (deaths == 2) delete shared;
}

TEST(ParticlePool, DepthSortMovesNodesAndLeavesTiesInPlace) {
  TKZ_LinkedList list;
  const float xs[] = {5, 1, 3, 3, 9};
  for (float x : xs) list.Add()->Data.Position = {x, 0, 0};
  const TKZ_Vectorf3 camera{0, 0, 0};

  // Node 0 (distance 5) moves before the first node not nearer than it: node 4 (9).
  EXPECT_TRUE(list.SortTowardsTail(list.Node(0), camera));
  EXPECT_EQ(ChainOrder(list), (std::vector<int32_t>{1, 2, 3, 0, 4}));
  EXPECT_EQ(BackwardOrder(list), (std::vector<int32_t>{1, 2, 3, 0, 4}));
  // Nearer than its successor: no move. Equal to its successor: no move either.
  EXPECT_FALSE(list.SortTowardsTail(list.Node(1), camera));
  EXPECT_FALSE(list.SortTowardsTail(list.Node(2), camera));
  EXPECT_FALSE(list.SortTowardsHead(list.Node(3), camera));
  EXPECT_FALSE(list.SortTowardsTail(list.Node(4), camera));  // the tail
  EXPECT_FALSE(list.SortTowardsHead(list.Node(1), camera));  // the head

  // The farthest to the tail, the nearest to the head.
  list.Node(1)->Data.Position = {20, 0, 0};
  EXPECT_TRUE(list.SortTowardsTail(list.Node(1), camera));
  EXPECT_EQ(list.Last, 1);
  list.Node(4)->Data.Position = {0.5f, 0, 0};
  EXPECT_TRUE(list.SortTowardsHead(list.Node(4), camera));
  EXPECT_EQ(ChainOrder(list), (std::vector<int32_t>{4, 2, 3, 0, 1}));
  EXPECT_EQ(BackwardOrder(list), (std::vector<int32_t>{4, 2, 3, 0, 1}));
  // Towards the head it stops after an equal distance.
  list.Node(3)->Data.Position = {5, 0, 0};
  list.Node(0)->Data.Position = {0, 3, 0};  // the same distance as node 2, which it passes to
  EXPECT_TRUE(list.SortTowardsHead(list.Node(0), camera));
  EXPECT_EQ(ChainOrder(list), (std::vector<int32_t>{4, 2, 0, 3, 1}));
}

TEST(ParticlePool, GuardedCallsLeaveTheirCodeAndSuccessResetsIt) {
  EXPECT_FALSE(TKZ_Check(false, kKzBadGrid));
  EXPECT_EQ(TKZ_GetLastError(), 4u);
  EXPECT_TRUE(TKZ_Check(true, kKzBadGrid));
  EXPECT_EQ(TKZ_GetLastError(), 0u);
}
