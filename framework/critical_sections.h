#pragma once
// The program's own lock between threads: a recursive critical section whose waiting threads queue
// in arrival order and receive it one after the other. It can be disposed of while in use: from
// then on newcomers are turned away with ECriticalSectionDispose, and the record is freed once the
// owner and every queued thread have left.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "framework/exceptions.h"

STARLACE_DECLARE_EXCEPTION(ECriticalSectionError, EThread);
STARLACE_DECLARE_EXCEPTION(ECriticalSectionDispose, ECriticalSectionError);

// One queue entry per enter that is not a re-entry. The head of the queue is the owner's entry.
struct TstwCriticalSectionUser {
  uintptr_t ThreadID = 0;
  TstwCriticalSectionUser* NextUser = nullptr;
  // The waiter sleeps on its own entry until a leave makes it the owner.
  std::mutex WakeMutex;
  std::condition_variable WakeSignal;
  bool Woken = false;
};
using PstwCriticalSectionUser = TstwCriticalSectionUser*;

struct TstwCriticalSection {
  std::atomic<uintptr_t> OwnerThread{0};  // 0 when free
  int32_t RecursionCount = 0;             // touched by the owner only
  std::atomic<int32_t> LockCounter{0};    // the internal lock guarding the queue; 0 when free
  std::atomic<uint32_t> Disposing{0};
  std::atomic<PstwCriticalSectionUser> FirstUser{nullptr};
  PstwCriticalSectionUser LastUser = nullptr;  // null exactly when the section is free
  // Threads inside enter, leave or a second dispose; the record is freed only when none is left, so
  // a newcomer sleeping on the internal lock never wakes on a freed record.
  std::atomic<int32_t> active_calls{0};
};
using PstwCriticalSection = TstwCriticalSection*;

PstwCriticalSection stwCreateCriticalSection();
// Waits until the owner and every queued thread have left, frees the record and clears Section.
// A second call while disposal is under way only clears its own pointer.
void stwDisposeCriticalSection(PstwCriticalSection& Section);
// Raises ECriticalSectionDispose once disposal has begun (the owner may still re-enter).
void stwEnterCriticalSection(PstwCriticalSection Section);
// Must be called by the owner.
void stwLeaveCriticalSection(PstwCriticalSection Section);
// Takes the internal lock, sleeping 50..54 ms between tries; raises ECriticalSectionDispose once
// disposal has begun. Release it by storing 0 into LockCounter.
void stwAcquireSectionLock(PstwCriticalSection Section);
