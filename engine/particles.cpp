#include "engine/particles.h"

#include "engine/appearance.h"

namespace {
uint32_t g_last_error = kKzNoError;

float distance_to(const TKZ_ParticleData& p, const TKZ_Vectorf3& camera) {
  return KZ_LengthVectorf3(KZ_SubVectorf3(p.Position, camera));
}
}  // namespace

uint32_t TKZ_GetLastError() { return g_last_error; }

bool TKZ_Check(bool condition, uint32_t code) {
  g_last_error = condition ? kKzNoError : code;
  return condition;
}

void TKZ_LinkedList::Reserve(int32_t total) {
  const int64_t extra = int64_t{total} - (int64_t{Count} + int64_t{FreeCount});
  if (extra <= 0) return;
  const size_t old_size = Items.size();
  // Room first, so that a failed allocation leaves the pool as it was.
  if (FreeIndices.size() < FreeCount + static_cast<size_t>(extra)) {
    FreeIndices.reserve(FreeCount + static_cast<size_t>(extra));
  }
  Items.resize(static_cast<size_t>(total));
  if (FreeIndices.size() < FreeCount + static_cast<size_t>(extra)) {
    FreeIndices.resize(FreeCount + static_cast<size_t>(extra));
  }
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
    if (FreeIndices.size() < step - 1) FreeIndices.reserve(step - 1);
    Items.resize(old_size + step);
    if (FreeIndices.size() < step - 1) FreeIndices.resize(step - 1);
    index = static_cast<int32_t>(old_size);
    for (uint32_t i = step - 1; i >= 1; --i) {
      FreeIndices[FreeCount++] = static_cast<int32_t>(old_size + i);
    }
  }
  TKZ_ListNode& node = Items[static_cast<size_t>(index)];
  node.Index = index;
  node.Prev = Last;
  node.Next = -1;
  if (Last >= 0) {
    Items[static_cast<size_t>(Last)].Next = index;
  } else {
    First = index;
  }
  Last = index;
  ++Count;
  return &node;
}

void TKZ_LinkedList::Unlink(PKZ_ListNode node) {
  if (node->Prev >= 0) {
    Items[static_cast<size_t>(node->Prev)].Next = node->Next;
  } else {
    First = node->Next;
  }
  if (node->Next >= 0) {
    Items[static_cast<size_t>(node->Next)].Prev = node->Prev;
  } else {
    Last = node->Prev;
  }
}

void TKZ_LinkedList::Release(PKZ_ListNode node, TKZ_Context* context) {
  Unlink(node);
  if (FreeIndices.size() == FreeCount) FreeIndices.resize(FreeIndices.size() + Step());
  FreeIndices[FreeCount++] = node->Index;
  --Count;
  TKZ_ParticleData& p = node->Data;
  if (p.OnRelease.Assigned()) p.OnRelease(&p, context);
  if (TKZ_AppearanceModel* model = p.Appearance) {
    // A count already at 0 (a model put on the particle by hand) is not wrapped round.
    if (model->RefCount > 0) --model->RefCount;
    if (model->AutoFree && model->RefCount == 0) {
      p.Appearance = nullptr;
      delete model;
    }
  }
}

void TKZ_LinkedList::InsertBefore(PKZ_ListNode node, PKZ_ListNode before) {
  node->Prev = before->Prev;
  node->Next = before->Index;
  if (before->Prev >= 0) {
    Items[static_cast<size_t>(before->Prev)].Next = node->Index;
  } else {
    First = node->Index;
  }
  before->Prev = node->Index;
}

void TKZ_LinkedList::InsertAfter(PKZ_ListNode node, PKZ_ListNode after) {
  node->Next = after->Next;
  node->Prev = after->Index;
  if (after->Next >= 0) {
    Items[static_cast<size_t>(after->Next)].Prev = node->Index;
  } else {
    Last = node->Index;
  }
  after->Next = node->Index;
}

bool TKZ_LinkedList::SortTowardsTail(PKZ_ListNode node, const TKZ_Vectorf3& camera) {
  if (node->Next < 0) return false;
  const float d = distance_to(node->Data, camera);
  for (PKZ_ListNode other = NextOf(node); other; other = NextOf(other)) {
    if (distance_to(other->Data, camera) >= d) {
      if (other->Index == node->Next) return false;
      Unlink(node);
      InsertBefore(node, other);
      return true;
    }
  }
  PKZ_ListNode tail = Tail();
  Unlink(node);
  InsertAfter(node, tail);
  return true;
}

bool TKZ_LinkedList::SortTowardsHead(PKZ_ListNode node, const TKZ_Vectorf3& camera) {
  if (node->Prev < 0) return false;
  const float d = distance_to(node->Data, camera);
  for (PKZ_ListNode other = PrevOf(node); other; other = PrevOf(other)) {
    if (distance_to(other->Data, camera) <= d) {
      if (other->Index == node->Prev) return false;
      Unlink(node);
      InsertAfter(node, other);
      return true;
    }
  }
  PKZ_ListNode head = Head();
  Unlink(node);
  InsertBefore(node, head);
  return true;
}
