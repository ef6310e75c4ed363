#pragma once
// Two search structures of the collision code: a height-balanced search tree keyed by a float whose
// elements carry lists of untyped values, and a one-dimensional segment tree over float intervals
// that answers "which intervals hold this coordinate". Both keep their nodes in growable arrays and
// link them by index (-1 for none), so growing an array breaks no link; a pointer handed out into an
// array is valid only until the next addition to that array.
#include <cstddef>
#include <cstdint>
#include <vector>

struct TAVLTreeElement {
  float Key = 0.0f;
  std::vector<void*> Values;  // one entry per insertion that landed here, in insertion order
  int32_t Left = -1;          // smaller keys
  int32_t Right = -1;         // larger keys
  int32_t Parent = -1;        // -1 for the root
  int32_t RightHeight = 0;    // 0 without a right child, else 1 + that child's larger height
  int32_t LeftHeight = 0;
};
using PAVLTreeElement = TAVLTreeElement*;

// Receives a copy of each element.
using TAVLTreeIterationCallback = void (*)(TAVLTreeElement element);

class TAVLTree {
 public:
  TAVLTree() = default;
  virtual ~TAVLTree() = default;

  // Adds `value` to the element whose key is `key`, or lies closer than `tolerance` to it (the first
  // such element on the search path; `key` then takes that element's key), creating the element when
  // there is none. Returns that element. A key that is not a number has no place in the order and is
  // not inserted: the result is nullptr and the tree is unchanged.
  PAVLTreeElement Insert(void* value, float key, float tolerance);
  // Every element in ascending key order.
  void Iterate(TAVLTreeIterationCallback callback) const;
  // A copy of element `index`; an index outside the array gives an unlinked element with key 0.
  TAVLTreeElement GetElement(int32_t index) const;
  // The element whose key equals `key` exactly, or nullptr.
  PAVLTreeElement Find(float key);
  // The key of the leftmost / rightmost element below element `index` (0 for an index outside).
  float SubtreeMinKey(int32_t index) const;
  float SubtreeMaxKey(int32_t index) const;

  // Calls f(element) for every element in ascending key order.
  template <typename F>
  void Walk(F&& f) const {
    WalkFrom(Root, f);
  }

  int32_t Root = -1;
  float MinKey = 0.0f;  // smallest and largest key ever inserted (after merging); 0 while empty
  float MaxKey = 0.0f;
  std::vector<TAVLTreeElement> Elements;  // never removed; an element keeps its index

 private:
  int32_t AddElement(void* value, int32_t parent, float key);
  void AddValue(int32_t index, void* value);
  int32_t RotateLeft(int32_t index);
  int32_t RotateRight(int32_t index);
  void UpdateHeights(int32_t index);
  bool Valid(int32_t index) const { return index >= 0 && static_cast<size_t>(index) < Elements.size(); }

  template <typename F>
  void WalkFrom(int32_t index, F& f) const {
    if (index < 0) return;
    const TAVLTreeElement& e = Elements[static_cast<size_t>(index)];
    WalkFrom(e.Left, f);
    f(Elements[static_cast<size_t>(index)]);
    WalkFrom(Elements[static_cast<size_t>(index)].Right, f);
  }
};

// One recorded interval and what it stands for.
struct TSegmentData {
  float Lo = 0.0f;
  float Hi = 0.0f;
  void* Data = nullptr;
};

// A node covers the closed interval [Lo, Hi]; an inner node has both children, a leaf neither.
struct TSegmentTreeElement {
  float Lo = 0.0f;
  float Hi = 0.0f;
  int32_t Left = -1;
  int32_t Right = -1;
  int32_t Parent = -1;
  std::vector<void*> Data;  // leaves: the data of every interval covering the whole leaf, ascending
};
using PSegmentTreeElement = TSegmentTreeElement*;

using TSegmentTreeIterationCallback = void (*)(TSegmentTreeElement element);

// An element of the list of interval indices that a build walks while it fills the leaves.
class TLinkedListElement {
 public:
  int32_t Index = -1;  // into TSegmentTree::Segments
  TLinkedListElement* Prev = nullptr;
  TLinkedListElement* Next = nullptr;
};

class TSegmentTree {
 public:
  TSegmentTree() { Clear(); }
  virtual ~TSegmentTree() = default;

  // Forgets every interval and node.
  void Clear();
  // Records [lo, hi] with `data`; an end closer than `tolerance` to an end already recorded takes
  // that end's value. lo > hi is kept as given (such an interval covers nothing). An interval with
  // an end that is not a number is not recorded. Nothing is searchable until Build.
  void AddSegment(void* data, float lo, float hi, float tolerance);
  // Builds the nodes from the recorded intervals; earlier nodes (and pointers to them) are gone.
  void Build();
  // The leaf whose interval holds x, searching from `start` (a node of this tree, or nullptr for the
  // root); nullptr when the tree is empty or x lies outside it or is not a number. A value on the
  // bound between two leaves finds the lower leaf. A `start` that is not one of this tree's nodes is
  // ignored.
  PSegmentTreeElement Query(float x, PSegmentTreeElement start);
  // Every node, inner nodes included: left subtree, node, right subtree.
  void Iterate(TSegmentTreeIterationCallback callback) const;

  int32_t Root = -1;
  TAVLTree Endpoints;  // keys: the interval ends
  std::vector<TSegmentData> Segments;
  std::vector<TSegmentTreeElement> Nodes;

 private:
  int32_t AddNode(int32_t parent, float lo, float hi);
  void AddNodeData(int32_t index, void* data);
  void SplitRecursive(int32_t node, int32_t element);
  void AssignSegments(int32_t node, TLinkedListElement*& head, std::vector<void*>& scratch);
  void IterateFrom(int32_t index, TSegmentTreeIterationCallback callback) const;
  bool Owns(const TSegmentTreeElement* node) const;
};
