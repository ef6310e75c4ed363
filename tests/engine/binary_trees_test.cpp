// The balanced search tree and the segment tree of the collision code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <vector>

#include "engine/binary_trees.h"

namespace {

void* data_of(intptr_t i) { return reinterpret_cast<void*>(i); }
intptr_t int_of(void* p) { return reinterpret_cast<intptr_t>(p); }

// Checks every structural rule of the tree; returns the height of the subtree at `index`.
int CheckSubtree(const TAVLTree& t, int32_t index, int32_t parent, float lo, float hi, size_t& count) {
  if (index < 0) return 0;
  const TAVLTreeElement& e = t.Elements[static_cast<size_t>(index)];
  ++count;
  EXPECT_EQ(e.Parent, parent) << "key " << e.Key;
  EXPECT_GT(e.Key, lo);
  EXPECT_LT(e.Key, hi);
  const int l = CheckSubtree(t, e.Left, index, lo, e.Key, count);
  const int r = CheckSubtree(t, e.Right, index, e.Key, hi, count);
  EXPECT_EQ(e.LeftHeight, l) << "key " << e.Key;
  EXPECT_EQ(e.RightHeight, r) << "key " << e.Key;
  EXPECT_LE(std::abs(r - l), 1) << "unbalanced at key " << e.Key;
  return 1 + std::max(l, r);
}

void CheckAVL(const TAVLTree& t) {
  size_t count = 0;
  const float inf = std::numeric_limits<float>::infinity();
  CheckSubtree(t, t.Root, -1, -inf, inf, count);
  EXPECT_EQ(count, t.Elements.size()) << "every element is reachable from the root";
}

std::vector<float> g_keys;
void CollectKey(TAVLTreeElement e) { g_keys.push_back(e.Key); }

}  // namespace

TEST(AVLTree, AscendingKeysOneToSevenGiveAPerfectTree) {
  TAVLTree t;
  for (int k = 1; k <= 7; ++k) t.Insert(data_of(k), static_cast<float>(k), 0.0f);
  const TAVLTreeElement root = t.GetElement(t.Root);
  EXPECT_EQ(root.Key, 4.0f);
  EXPECT_EQ(t.GetElement(root.Left).Key, 2.0f);
  EXPECT_EQ(t.GetElement(root.Right).Key, 6.0f);
  for (float leaf : {1.0f, 3.0f, 5.0f, 7.0f}) {
    const PAVLTreeElement e = t.Find(leaf);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Left, -1);
    EXPECT_EQ(e->Right, -1);
    EXPECT_EQ(e->LeftHeight + e->RightHeight, 0);
  }
  EXPECT_EQ(root.LeftHeight, 2);
  EXPECT_EQ(t.MaxKey, 7.0f);
  EXPECT_EQ(t.SubtreeMinKey(root.Right), 5.0f);
  EXPECT_EQ(t.SubtreeMaxKey(root.Left), 3.0f);
  CheckAVL(t);
}

TEST(AVLTree, StaysBalancedAndOrderedUnderRandomAndSortedInsertions) {
  std::mt19937 rng(7);
  for (int round = 0; round < 4; ++round) {
    TAVLTree t;
    std::vector<float> keys;
    for (int i = 0; i < 600; ++i) keys.push_back(static_cast<float>(rng() % 400) * 0.25f);
    if (round == 1) std::sort(keys.begin(), keys.end());
    if (round == 2) std::sort(keys.rbegin(), keys.rend());
    std::set<float> distinct;
    for (size_t i = 0; i < keys.size(); ++i) {
      const PAVLTreeElement e = t.Insert(data_of(static_cast<intptr_t>(i)), keys[i], 0.0f);
      ASSERT_NE(e, nullptr);
      EXPECT_EQ(e->Key, keys[i]);
      EXPECT_EQ(int_of(e->Values.back()), static_cast<intptr_t>(i));
      distinct.insert(keys[i]);
    }
    CheckAVL(t);
    EXPECT_EQ(t.Elements.size(), distinct.size());
    EXPECT_EQ(t.MinKey, *distinct.begin());
    EXPECT_EQ(t.MaxKey, *distinct.rbegin());
    // A balanced tree of n elements is at most about 1.44 log2(n) high.
    const TAVLTreeElement root = t.GetElement(t.Root);
    EXPECT_LE(std::max(root.LeftHeight, root.RightHeight), 1.45 * std::log2(distinct.size() + 2.0));
    g_keys.clear();
    t.Iterate(CollectKey);
    EXPECT_TRUE(std::equal(g_keys.begin(), g_keys.end(), distinct.begin(), distinct.end()));
    // Values of one key keep their insertion order.
    const float k = keys[0];
    std::vector<intptr_t> expected;
    for (size_t i = 0; i < keys.size(); ++i)
      if (keys[i] == k) expected.push_back(static_cast<intptr_t>(i));
    std::vector<intptr_t> got;
    for (void* v : t.Find(k)->Values) got.push_back(int_of(v));
    EXPECT_EQ(got, expected);
  }
}

TEST(AVLTree, ToleranceMergesNearKeysOnTheSearchPath) {
  TAVLTree t;
  t.Insert(data_of(1), 3.0f, 0.5f);
  EXPECT_EQ(t.MinKey, 3.0f);
  EXPECT_EQ(t.MaxKey, 3.0f);
  const PAVLTreeElement merged = t.Insert(data_of(2), 3.3f, 0.5f);
  EXPECT_EQ(merged->Key, 3.0f);
  EXPECT_EQ(merged->Values.size(), 2u);
  EXPECT_EQ(t.Elements.size(), 1u);
  EXPECT_EQ(t.MaxKey, 3.0f);  // the merged key, not 3.3
  // Exactly the tolerance away is not closer than it.
  EXPECT_EQ(t.Insert(data_of(3), 3.5f, 0.5f)->Key, 3.5f);
  // Tolerance 0 joins only equal keys.
  TAVLTree exact;
  exact.Insert(nullptr, 1.0f, 0.0f);
  exact.Insert(nullptr, std::nextafter(1.0f, 2.0f), 0.0f);
  exact.Insert(nullptr, 1.0f, 0.0f);
  EXPECT_EQ(exact.Elements.size(), 2u);
  EXPECT_EQ(exact.Find(1.0f)->Values.size(), 2u);
  EXPECT_EQ(exact.Find(1.5f), nullptr);
}

TEST(AVLTree, AKeyThatIsNotANumberLeavesTheTreeAlone) {
  TAVLTree t;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(t.Insert(nullptr, nan, 0.0f), nullptr);
  EXPECT_EQ(t.Root, -1);
  for (int k = 0; k < 10; ++k) t.Insert(nullptr, static_cast<float>(k), 0.0f);
  EXPECT_EQ(t.Insert(nullptr, nan, 1.0f), nullptr);
  EXPECT_EQ(t.Elements.size(), 10u);
  EXPECT_EQ(t.Find(nan), nullptr);
  CheckAVL(t);
  EXPECT_EQ(t.GetElement(99).Left, -1);
  EXPECT_EQ(t.SubtreeMinKey(-1), 0.0f);
}

// ---- Segment tree ----

namespace {

std::vector<intptr_t> DataOf(PSegmentTreeElement leaf) {
  std::vector<intptr_t> out;
  if (leaf)
    for (void* d : leaf->Data) out.push_back(int_of(d));
  return out;
}

struct SegmentTreeExample : ::testing::Test {
  void SetUp() override {
    t.AddSegment(data_of(10), 0, 2, 0);
    t.AddSegment(data_of(11), 2, 5, 0);
    t.AddSegment(data_of(12), 0, 9, 0);
    t.Build();
  }
  TSegmentTree t;
};

std::vector<std::pair<float, float>> g_leaves;
void CollectLeaf(TSegmentTreeElement n) {
  if (n.Left < 0) g_leaves.emplace_back(n.Lo, n.Hi);
}

}  // namespace

TEST_F(SegmentTreeExample, LeavesHoldEveryCoveringIntervalInAscendingOrder) {
  g_leaves.clear();
  t.Iterate(CollectLeaf);
  const std::vector<std::pair<float, float>> leaves = {{0, 2}, {2, 5}, {5, 9}};
  EXPECT_EQ(g_leaves, leaves);
  EXPECT_EQ(DataOf(t.Query(1, nullptr)), (std::vector<intptr_t>{10, 12}));
  EXPECT_EQ(DataOf(t.Query(3, nullptr)), (std::vector<intptr_t>{11, 12}));
  EXPECT_EQ(DataOf(t.Query(8, nullptr)), (std::vector<intptr_t>{12}));
}

TEST_F(SegmentTreeExample, QueriesFindTheLowerLeafOnABoundAndClimbFromAStart) {
  PSegmentTreeElement at2 = t.Query(2, nullptr);
  ASSERT_NE(at2, nullptr);
  EXPECT_EQ(at2->Lo, 0.0f);
  EXPECT_EQ(at2->Hi, 2.0f);
  EXPECT_EQ(t.Query(9.5f, nullptr), nullptr);
  EXPECT_EQ(t.Query(-1, nullptr), nullptr);
  EXPECT_EQ(t.Query(std::numeric_limits<float>::quiet_NaN(), at2), nullptr);
  PSegmentTreeElement at7 = t.Query(7, at2);
  ASSERT_NE(at7, nullptr);
  EXPECT_EQ(at7->Lo, 5.0f);
  EXPECT_EQ(at7->Hi, 9.0f);
  EXPECT_EQ(t.Query(7.5f, at7), at7);
  EXPECT_EQ(t.Query(-1, at7), nullptr);
  // A start that is not a node of this tree is not followed.
  TSegmentTreeElement stray;
  stray.Lo = 100;
  stray.Hi = 200;
  stray.Parent = 12345;
  EXPECT_EQ(t.Query(1, &stray), t.Query(1, nullptr));
}

TEST(SegmentTree, EmptyUnbuiltAndSingleIntervalTrees) {
  TSegmentTree empty;
  EXPECT_EQ(empty.Query(0, nullptr), nullptr);
  empty.Build();
  EXPECT_EQ(empty.Root, -1);
  EXPECT_EQ(empty.Query(0, nullptr), nullptr);

  TSegmentTree unbuilt;
  unbuilt.AddSegment(data_of(1), 0, 1, 0);
  EXPECT_EQ(unbuilt.Query(0.5f, nullptr), nullptr);

  TSegmentTree one;
  one.AddSegment(data_of(4), -1, 3, 0);
  one.Build();
  ASSERT_EQ(one.Nodes.size(), 1u);
  EXPECT_EQ(DataOf(one.Query(0, nullptr)), std::vector<intptr_t>{4});

  // A point interval, and an interval with an end that is not a number (not recorded).
  TSegmentTree point;
  point.AddSegment(data_of(5), 2, 2, 0);
  point.AddSegment(data_of(6), std::numeric_limits<float>::quiet_NaN(), 3, 0);
  point.Build();
  EXPECT_EQ(point.Segments.size(), 1u);
  EXPECT_EQ(DataOf(point.Query(2, nullptr)), std::vector<intptr_t>{5});
  EXPECT_EQ(point.Query(2.5f, nullptr), nullptr);

  one.Clear();
  EXPECT_EQ(one.Query(0, nullptr), nullptr);
  EXPECT_TRUE(one.Segments.empty());

  // A reversed interval is kept but covers nothing.
  TSegmentTree reversed;
  reversed.AddSegment(data_of(7), 5, 1, 0);
  reversed.AddSegment(data_of(8), 0, 6, 0);
  reversed.Build();
  EXPECT_EQ(DataOf(reversed.Query(3, nullptr)), std::vector<intptr_t>{8});
}

TEST(SegmentTree, EndsWithinTheToleranceSnapToRecordedEnds) {
  TSegmentTree t;
  t.AddSegment(data_of(0), 0.0f, 1.0f, 0.3f);
  t.AddSegment(data_of(1), 0.2f, 1.25f, 0.3f);
  EXPECT_EQ(t.Segments[1].Lo, 0.0f);
  EXPECT_EQ(t.Segments[1].Hi, 1.0f);
  t.Build();
  EXPECT_EQ(DataOf(t.Query(0.5f, nullptr)), (std::vector<intptr_t>{0, 1}));
}

// Many random intervals against a plain scan: a leaf holds exactly the intervals that hold a point
// strictly inside it, and queries started from the last leaf agree with queries from the root.
TEST(SegmentTree, StabbingQueriesAgreeWithABruteForceScan) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<float> pos(-50.0f, 50.0f);
  std::uniform_real_distribution<float> len(0.0f, 20.0f);
  for (int round = 0; round < 6; ++round) {
    TSegmentTree t;
    std::vector<TSegmentData> ref;
    const int n = 1 + round * 40;
    for (int i = 0; i < n; ++i) {
      TSegmentData s;
      s.Lo = std::round(pos(rng) * 4.0f) / 4.0f;  // on a grid, so ends are often shared
      s.Hi = s.Lo + std::round(len(rng) * 4.0f) / 4.0f;
      s.Data = data_of(i);
      ref.push_back(s);
      t.AddSegment(s.Data, s.Lo, s.Hi, 0.0f);
    }
    t.Build();
    std::set<float> ends;
    for (const TSegmentData& s : ref) ends.insert(s.Lo), ends.insert(s.Hi);
    PSegmentTreeElement last = nullptr;
    for (int q = 0; q < 2000; ++q) {
      const float x = pos(rng) * 1.2f;
      if (ends.count(x)) continue;
      std::vector<intptr_t> expected;
      for (const TSegmentData& s : ref)
        if (s.Lo <= x && x <= s.Hi) expected.push_back(int_of(s.Data));
      PSegmentTreeElement leaf = t.Query(x, last);
      EXPECT_EQ(leaf, t.Query(x, nullptr));
      if (x < *ends.begin() || x > *ends.rbegin()) {
        EXPECT_EQ(leaf, nullptr) << x;
        continue;
      }
      ASSERT_NE(leaf, nullptr) << x;
      EXPECT_EQ(leaf->Left, -1);
      EXPECT_LE(leaf->Lo, x);
      EXPECT_GE(leaf->Hi, x);
      EXPECT_EQ(DataOf(leaf), expected) << "round " << round << " x " << x;
      last = leaf;
    }
    // The leaves are exactly the gaps between consecutive ends.
    g_leaves.clear();
    t.Iterate(CollectLeaf);
    std::vector<std::pair<float, float>> gaps;
    for (auto it = ends.begin(); std::next(it) != ends.end(); ++it) gaps.emplace_back(*it, *std::next(it));
    if (ends.size() == 1) gaps.emplace_back(*ends.begin(), *ends.begin());
    EXPECT_EQ(g_leaves, gaps);
  }
}
