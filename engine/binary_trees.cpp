#include "engine/binary_trees.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace {
// Ends that are copied from one endpoint tree to the next keep their values exactly.
constexpr float kBuildTolerance = 0.0f;

// Segment data are small integers (primitive indices) carried in pointers; leaves list them in
// ascending order of that integer.
int32_t data_key(void* data) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(data)); }
}  // namespace

// ---- TAVLTree ----

int32_t TAVLTree::AddElement(void* value, int32_t parent, float key) {
  TAVLTreeElement e;
  e.Key = key;
  e.Values.push_back(value);
  e.Parent = parent;
  Elements.push_back(std::move(e));
  return static_cast<int32_t>(Elements.size() - 1);
}

void TAVLTree::AddValue(int32_t index, void* value) { Elements[static_cast<size_t>(index)].Values.push_back(value); }

void TAVLTree::UpdateHeights(int32_t index) {
  TAVLTreeElement& e = Elements[static_cast<size_t>(index)];
  auto height = [this](int32_t child) {
    if (child < 0) return 0;
    const TAVLTreeElement& c = Elements[static_cast<size_t>(child)];
    return 1 + std::max(c.LeftHeight, c.RightHeight);
  };
  e.LeftHeight = height(e.Left);
  e.RightHeight = height(e.Right);
}

int32_t TAVLTree::RotateLeft(int32_t index) {
  TAVLTreeElement& n = Elements[static_cast<size_t>(index)];
  const int32_t a_index = n.Right;
  TAVLTreeElement& a = Elements[static_cast<size_t>(a_index)];
  a.Parent = n.Parent;
  n.Right = a.Left;
  if (a.Left >= 0) Elements[static_cast<size_t>(a.Left)].Parent = index;
  a.Left = index;
  n.Parent = a_index;
  UpdateHeights(index);
  UpdateHeights(a_index);
  return a_index;
}

int32_t TAVLTree::RotateRight(int32_t index) {
  TAVLTreeElement& n = Elements[static_cast<size_t>(index)];
  const int32_t a_index = n.Left;
  TAVLTreeElement& a = Elements[static_cast<size_t>(a_index)];
  a.Parent = n.Parent;
  n.Left = a.Right;
  if (a.Right >= 0) Elements[static_cast<size_t>(a.Right)].Parent = index;
  a.Right = index;
  n.Parent = a_index;
  UpdateHeights(index);
  UpdateHeights(a_index);
  return a_index;
}

PAVLTreeElement TAVLTree::Insert(void* value, float key, float tolerance) {
  if (std::isnan(key)) return nullptr;
  if (Root < 0) {
    Root = AddElement(value, -1, key);
    MinKey = MaxKey = key;
    return &Elements[static_cast<size_t>(Root)];
  }

  int32_t found = -1;
  int32_t current = Root;
  while (found < 0) {
    const float element_key = Elements[static_cast<size_t>(current)].Key;
    if (tolerance > std::fabs(key - element_key)) key = element_key;
    if (element_key < key) {
      const int32_t next = Elements[static_cast<size_t>(current)].Right;
      if (next < 0) {
        found = AddElement(value, current, key);
        Elements[static_cast<size_t>(current)].Right = found;
      }
      current = next;
    } else if (element_key > key) {
      const int32_t next = Elements[static_cast<size_t>(current)].Left;
      if (next < 0) {
        found = AddElement(value, current, key);
        Elements[static_cast<size_t>(current)].Left = found;
      }
      current = next;
    } else {
      AddValue(current, value);
      found = current;
    }
  }

  // Back up the path: new heights, and one single or double rotation where a side is two higher.
  for (int32_t at = found; at >= 0;) {
    UpdateHeights(at);
    TAVLTreeElement& e = Elements[static_cast<size_t>(at)];
    const int32_t parent = e.Parent;
    const int32_t d = e.RightHeight - e.LeftHeight;
    int32_t subtree = at;
    if (d == -2) {
      const TAVLTreeElement& l = Elements[static_cast<size_t>(e.Left)];
      if (l.LeftHeight < l.RightHeight) e.Left = RotateLeft(e.Left);
      subtree = RotateRight(at);
    } else if (d == 2) {
      const TAVLTreeElement& r = Elements[static_cast<size_t>(e.Right)];
      if (r.RightHeight < r.LeftHeight) e.Right = RotateRight(e.Right);
      subtree = RotateLeft(at);
    }
    if (subtree != at) {
      if (parent < 0) {
        Root = subtree;
      } else {
        TAVLTreeElement& p = Elements[static_cast<size_t>(parent)];
        (p.Left == at ? p.Left : p.Right) = subtree;
      }
    }
    at = parent;
  }

  MinKey = std::min(MinKey, key);
  MaxKey = std::max(MaxKey, key);
  return &Elements[static_cast<size_t>(found)];
}

void TAVLTree::Iterate(TAVLTreeIterationCallback callback) const {
  if (!callback) return;
  Walk([callback](const TAVLTreeElement& e) { callback(e); });
}

TAVLTreeElement TAVLTree::GetElement(int32_t index) const {
  return Valid(index) ? Elements[static_cast<size_t>(index)] : TAVLTreeElement{};
}

PAVLTreeElement TAVLTree::Find(float key) {
  int32_t at = Root;
  while (at >= 0) {
    TAVLTreeElement& e = Elements[static_cast<size_t>(at)];
    if (e.Key < key) {
      at = e.Right;
    } else if (e.Key > key) {
      at = e.Left;
    } else {
      return e.Key == key ? &e : nullptr;  // a key that is not a number is never found
    }
  }
  return nullptr;
}

float TAVLTree::SubtreeMinKey(int32_t index) const {
  if (!Valid(index)) return 0.0f;
  while (Elements[static_cast<size_t>(index)].Left >= 0) index = Elements[static_cast<size_t>(index)].Left;
  return Elements[static_cast<size_t>(index)].Key;
}

float TAVLTree::SubtreeMaxKey(int32_t index) const {
  if (!Valid(index)) return 0.0f;
  while (Elements[static_cast<size_t>(index)].Right >= 0) index = Elements[static_cast<size_t>(index)].Right;
  return Elements[static_cast<size_t>(index)].Key;
}

// ---- TSegmentTree ----

void TSegmentTree::Clear() {
  Endpoints = TAVLTree();
  Segments.clear();
  Nodes.clear();
  Root = -1;
}

void TSegmentTree::AddSegment(void* data, float lo, float hi, float tolerance) {
  if (std::isnan(lo) || std::isnan(hi)) return;
  TSegmentData s;
  s.Lo = Endpoints.Insert(nullptr, lo, tolerance)->Key;
  s.Hi = Endpoints.Insert(nullptr, hi, tolerance)->Key;
  s.Data = data;
  Segments.push_back(s);
}

int32_t TSegmentTree::AddNode(int32_t parent, float lo, float hi) {
  TSegmentTreeElement n;
  n.Lo = lo;
  n.Hi = hi;
  n.Parent = parent;
  Nodes.push_back(std::move(n));
  return static_cast<int32_t>(Nodes.size() - 1);
}

void TSegmentTree::AddNodeData(int32_t index, void* data) { Nodes[static_cast<size_t>(index)].Data.push_back(data); }

void TSegmentTree::Build() {
  Nodes.clear();
  Root = -1;

  // The ends again, inserted in ascending order: that leaves the smallest and the largest key as
  // leaves of the search tree, so the split below reaches every key.
  TAVLTree ordered;
  Endpoints.Walk([&ordered](const TAVLTreeElement& e) { ordered.Insert(nullptr, e.Key, kBuildTolerance); });
  Endpoints = std::move(ordered);
  if (Endpoints.Root < 0) return;

  Root = AddNode(-1, Endpoints.MinKey, Endpoints.MaxKey);
  SplitRecursive(Root, Endpoints.Root);

  // The interval indices sorted by their lower end (equal ends in recording order), as a list from
  // which the leaves, met in ascending order, drop what can reach no later leaf.
  std::vector<int32_t> order(Segments.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int32_t>(i);
  std::stable_sort(order.begin(), order.end(), [this](int32_t a, int32_t b) {
    return Segments[static_cast<size_t>(a)].Lo < Segments[static_cast<size_t>(b)].Lo;
  });
  std::vector<TLinkedListElement> list(order.size());
  for (size_t i = 0; i < list.size(); ++i) {
    list[i].Index = order[i];
    list[i].Prev = i > 0 ? &list[i - 1] : nullptr;
    list[i].Next = i + 1 < list.size() ? &list[i + 1] : nullptr;
  }
  TLinkedListElement* head = list.empty() ? nullptr : &list[0];
  std::vector<void*> scratch;
  AssignSegments(Root, head, scratch);
}

void TSegmentTree::SplitRecursive(int32_t node, int32_t element) {
  if (node < 0 || element < 0) return;
  const float x = Endpoints.Elements[static_cast<size_t>(element)].Key;
  const float lo = Nodes[static_cast<size_t>(node)].Lo;
  const float hi = Nodes[static_cast<size_t>(node)].Hi;
  if (!(lo < x && x < hi)) return;
  const int32_t left = AddNode(node, lo, x);
  const int32_t right = AddNode(node, x, hi);
  Nodes[static_cast<size_t>(node)].Left = left;
  Nodes[static_cast<size_t>(node)].Right = right;
  SplitRecursive(left, Endpoints.Elements[static_cast<size_t>(element)].Left);
  SplitRecursive(right, Endpoints.Elements[static_cast<size_t>(element)].Right);
}

void TSegmentTree::AssignSegments(int32_t node, TLinkedListElement*& head, std::vector<void*>& scratch) {
  const TSegmentTreeElement& n = Nodes[static_cast<size_t>(node)];
  if (n.Left >= 0) {
    const int32_t right = n.Right;
    AssignSegments(n.Left, head, scratch);
    AssignSegments(right, head, scratch);
    return;
  }
  const float a = n.Lo;
  const float b = n.Hi;
  scratch.clear();
  for (TLinkedListElement* e = head; e;) {
    TLinkedListElement* next = e->Next;
    const TSegmentData& s = Segments[static_cast<size_t>(e->Index)];
    if (s.Lo > b) break;  // sorted by Lo: no later interval reaches this leaf
    if (s.Hi < a) {
      // Reaches no later leaf either.
      if (e->Prev) e->Prev->Next = e->Next; else head = e->Next;
      if (e->Next) e->Next->Prev = e->Prev;
    } else if (s.Lo <= a && s.Hi >= b) {
      scratch.push_back(s.Data);
    }
    e = next;
  }
  std::stable_sort(scratch.begin(), scratch.end(), [](void* x, void* y) { return data_key(x) < data_key(y); });
  for (void* data : scratch) AddNodeData(node, data);
}

bool TSegmentTree::Owns(const TSegmentTreeElement* node) const {
  if (Nodes.empty()) return false;
  std::less<const TSegmentTreeElement*> before;
  return !before(node, Nodes.data()) && before(node, Nodes.data() + Nodes.size());
}

PSegmentTreeElement TSegmentTree::Query(float x, PSegmentTreeElement start) {
  if (Root < 0) return nullptr;
  PSegmentTreeElement n = (start && Owns(start)) ? start : &Nodes[static_cast<size_t>(Root)];
  for (;;) {
    if (!(n->Lo <= x && x <= n->Hi)) {
      if (n->Parent < 0) return nullptr;
      n = &Nodes[static_cast<size_t>(n->Parent)];
      continue;
    }
    if (n->Left < 0) return n;
    PSegmentTreeElement left = &Nodes[static_cast<size_t>(n->Left)];
    PSegmentTreeElement right = &Nodes[static_cast<size_t>(n->Right)];
    if (left->Lo <= x && x <= left->Hi) {
      n = left;
    } else if (right->Lo <= x && x <= right->Hi) {
      n = right;
    } else {
      return n;
    }
  }
}

void TSegmentTree::Iterate(TSegmentTreeIterationCallback callback) const {
  if (callback) IterateFrom(Root, callback);
}

void TSegmentTree::IterateFrom(int32_t index, TSegmentTreeIterationCallback callback) const {
  if (index < 0) return;
  IterateFrom(Nodes[static_cast<size_t>(index)].Left, callback);
  callback(Nodes[static_cast<size_t>(index)]);
  IterateFrom(Nodes[static_cast<size_t>(index)].Right, callback);
}
