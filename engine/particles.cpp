#include "engine/particles.h"

#include "engine/appearance.h"

namespace {
uint32_t g_last_error = kKzNoError;
}  // namespace

uint32_t TKZ_GetLastError() { return g_last_error; }

bool TKZ_Check(bool condition, uint32_t code) {
  g_last_error = condition ? kKzNoError : code;
  return condition;
}

namespace {
// Room for at least `wanted` elements, at least doubling what is there: growing the pool one
// GrowthStep at a time must not move every slot each time.
template <typename T>
void reserve_geometric(std::vector<T>& v, size_t wanted) {
  if (wanted <= v.capacity()) return;
  const size_t doubled = v.capacity() > v.max_size() / 2 ? v.max_size() : v.capacity() * 2;
  v.reserve(wanted > doubled ? wanted : doubled);
}
}  // namespace

void TKZ_LinkedList::GrowSlots(size_t total, size_t free_entries) {
  reserve_geometric(Items, total);
  reserve_geometric(Links, total);
  if (FreeIndices.size() < free_entries) reserve_geometric(FreeIndices, free_entries);
  Items.resize(total);
  Links.resize(total);
  if (FreeIndices.size() < free_entries) FreeIndices.resize(free_entries);
}

void TKZ_LinkedList::Reserve(int32_t total) {
  const int64_t extra = int64_t{total} - (int64_t{Count} + int64_t{FreeCount});
  if (extra <= 0) return;
  const size_t old_size = Items.size();
  GrowSlots(static_cast<size_t>(total), FreeCount + static_cast<size_t>(extra));
  // Descending, so that the lowest new index is on top and handed out first.
  for (int64_t i = total - 1; i >= static_cast<int64_t>(old_size); --i) {
    FreeIndices[FreeCount++] = static_cast<int32_t>(i);
  }
}

PKZ_ListNode TKZ_LinkedList::Add() {
  int32_t index;
  if (FreeCount > 0) {
    index = FreeIndices[--FreeCount];
  } else {
    const uint32_t step = Step();
    const size_t old_size = Items.size();
    GrowSlots(old_size + step, step - 1);
    index = static_cast<int32_t>(old_size);
    for (uint32_t i = step - 1; i >= 1; --i) {
      FreeIndices[FreeCount++] = static_cast<int32_t>(old_size + i);
    }
  }
  TKZ_ListNode& node = Items[static_cast<size_t>(index)];
  node.Index = index;
  LinkOf(index) = {Last, -1};
  if (Last >= 0) {
    LinkOf(Last).Next = index;
  } else {
    First = index;
  }
  Last = index;
  ++Count;
  return &node;
}

void TKZ_LinkedList::Unlink(PKZ_ListNode node) { UnlinkIndex(IndexOf(node)); }

void TKZ_LinkedList::UnlinkIndex(int32_t index) {
  const TKZ_ListLink link = LinkOf(index);
  if (link.Prev >= 0) {
    LinkOf(link.Prev).Next = link.Next;
  } else {
    First = link.Next;
  }
  if (link.Next >= 0) {
    LinkOf(link.Next).Prev = link.Prev;
  } else {
    Last = link.Prev;
  }
}

void TKZ_LinkedList::Release(PKZ_ListNode node, TKZ_Context* context) {
  // Room on the free stack first: a failed allocation leaves the node linked and counted.
  if (FreeIndices.size() == FreeCount) FreeIndices.resize(FreeIndices.size() + Step());
  Unlink(node);
  FreeIndices[FreeCount++] = IndexOf(node);
  --Count;
  TKZ_ParticleData& p = node->Data;
  if (p.OnRelease.Assigned()) p.OnRelease(&p, context);
  TKZ_AppearanceModel* model = p.Appearance;
  // A count already at 0 means the model was put on the particle by hand (a hook may do so), so
  // this particle never held a reference: the count is not wrapped round, and the model, which
  // other particles may use, is not freed.
  if (model && model->RefCount > 0 && --model->RefCount == 0 && model->AutoFree) {
    p.Appearance = nullptr;
    delete model;
  }
}

void TKZ_LinkedList::InsertBefore(int32_t index, int32_t before) {
  TKZ_ListLink& link = LinkOf(index);
  TKZ_ListLink& successor = LinkOf(before);
  link = {successor.Prev, before};
  if (successor.Prev >= 0) {
    LinkOf(successor.Prev).Next = index;
  } else {
    First = index;
  }
  successor.Prev = index;
}

void TKZ_LinkedList::InsertAfter(int32_t index, int32_t after) {
  TKZ_ListLink& link = LinkOf(index);
  TKZ_ListLink& predecessor = LinkOf(after);
  link = {after, predecessor.Next};
  if (predecessor.Next >= 0) {
    LinkOf(predecessor.Next).Prev = index;
  } else {
    Last = index;
  }
  predecessor.Next = index;
}

float TKZ_LinkedList::DistanceOf(int32_t index, const TKZ_Vectorf3& camera) const {
  return particle_distance(Items[static_cast<size_t>(index)].Data, camera);
}

bool TKZ_LinkedList::SortTowardsTail(PKZ_ListNode node, const TKZ_Vectorf3& camera) {
  const int32_t index = IndexOf(node);
  const int32_t next = NextIndex(index);
  if (next < 0) return false;
  const float d = DistanceOf(index, camera);
  for (int32_t other = next; other >= 0; other = NextIndex(other)) {
    if (DistanceOf(other, camera) >= d) {
      if (other == next) return false;
      UnlinkIndex(index);
      InsertBefore(index, other);
      return true;
    }
  }
  MoveAfter(index, Last);
  return true;
}

bool TKZ_LinkedList::SortTowardsHead(PKZ_ListNode node, const TKZ_Vectorf3& camera) {
  const int32_t index = IndexOf(node);
  const int32_t prev = PrevIndex(index);
  if (prev < 0) return false;
  const float d = DistanceOf(index, camera);
  for (int32_t other = prev; other >= 0; other = PrevIndex(other)) {
    if (DistanceOf(other, camera) <= d) {
      if (other == prev) return false;
      MoveAfter(index, other);
      return true;
    }
  }
  MoveAfter(index, -1);
  return true;
}

void TKZ_LinkedList::MoveAfter(int32_t index, int32_t after) {
  UnlinkIndex(index);
  if (after >= 0) {
    InsertAfter(index, after);
  } else {
    InsertBefore(index, First);
  }
}
