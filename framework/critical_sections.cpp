#include "framework/critical_sections.h"

#include <memory>

#include "framework/random.h"
#include "platform/thread.h"

namespace {

const char* const kDisposeMessage = "Critical section is going to be disposed.";

// A small number per thread, never 0 and never reused.
uintptr_t current_thread_id() {
  static std::atomic<uintptr_t> next_id{1};
  thread_local const uintptr_t id = next_id.fetch_add(1);
  return id;
}

void release_section_lock(PstwCriticalSection section) { section->LockCounter.store(0); }

// Counts the caller among the threads using the record for the length of a call.
class ActiveCall {
 public:
  explicit ActiveCall(PstwCriticalSection section) : section_(section) { section_->active_calls.fetch_add(1); }
  // The last touch of the record: disposal may free it right after.
  ~ActiveCall() { section_->active_calls.fetch_sub(1); }
  ActiveCall(const ActiveCall&) = delete;
  ActiveCall& operator=(const ActiveCall&) = delete;

 private:
  PstwCriticalSection section_;
};

void wake(PstwCriticalSectionUser user) {
  // Notified under the entry's mutex: the woken thread cannot run on and free its entry before
  // this thread is done with it.
  std::lock_guard<std::mutex> lock(user->WakeMutex);
  user->Woken = true;
  user->WakeSignal.notify_one();
}

void wait_until_woken(PstwCriticalSectionUser user) {
  std::unique_lock<std::mutex> lock(user->WakeMutex);
  user->WakeSignal.wait(lock, [user] { return user->Woken; });
}

}  // namespace

PstwCriticalSection stwCreateCriticalSection() { return new TstwCriticalSection(); }

void stwAcquireSectionLock(PstwCriticalSection Section) {
  for (;;) {
    while (Section->LockCounter.load() != 0 && Section->Disposing.load() == 0)
      platform::sleep_ms(static_cast<unsigned>(50 + Random(5)));
    if (Section->Disposing.load() != 0) throw ECriticalSectionDispose(kDisposeMessage);
    // Taken only from 0 to 1: a failed try leaves the counter alone, so a release (a plain store
    // of 0) can never meet a late undo and leave the counter below 0, locked for good.
    int32_t expected = 0;
    if (Section->LockCounter.compare_exchange_strong(expected, 1)) {
      // Disposal is begun only under this lock, so after taking it the flag is final.
      if (Section->Disposing.load() == 0) return;
      release_section_lock(Section);
      throw ECriticalSectionDispose(kDisposeMessage);
    }
  }
}

void stwEnterCriticalSection(PstwCriticalSection Section) {
  ActiveCall active(Section);
  const uintptr_t me = current_thread_id();
  if (Section->OwnerThread.load() == me) {
    ++Section->RecursionCount;
    return;
  }
  auto user = std::make_unique<TstwCriticalSectionUser>();
  user->ThreadID = me;
  stwAcquireSectionLock(Section);
  PstwCriticalSectionUser entry = user.release();
  if (!Section->LastUser) {
    Section->OwnerThread.store(me);
    Section->FirstUser.store(entry);
    Section->LastUser = entry;
    release_section_lock(Section);
    Section->RecursionCount = 1;
    return;
  }
  Section->LastUser->NextUser = entry;
  Section->LastUser = entry;
  release_section_lock(Section);
  wait_until_woken(entry);
  Section->RecursionCount = 1;
}

void stwLeaveCriticalSection(PstwCriticalSection Section) {
  ActiveCall active(Section);
  if (--Section->RecursionCount > 0) return;
  bool locked = true;
  try {
    stwAcquireSectionLock(Section);
  } catch (const ECriticalSectionDispose&) {
    // Disposal waits for this hand-over; nobody else touches the queue meanwhile.
    locked = false;
  }
  const PstwCriticalSectionUser head = Section->FirstUser.load();
  const PstwCriticalSectionUser next = head->NextUser;
  if (!next) {
    Section->LastUser = nullptr;
    Section->OwnerThread.store(0);
  } else {
    Section->OwnerThread.store(next->ThreadID);
  }
  Section->FirstUser.store(next);
  if (locked) release_section_lock(Section);
  if (next) wake(next);
  delete head;
}

void stwDisposeCriticalSection(PstwCriticalSection& Section) {
  const PstwCriticalSection section = Section;
  if (!section) return;
  {
    ActiveCall active(section);
    try {
      stwAcquireSectionLock(section);
    } catch (const ECriticalSectionDispose&) {
      // Disposal is already under way elsewhere.
      Section = nullptr;
      return;
    }
    section->Disposing.store(1);
    release_section_lock(section);
  }
  while (section->FirstUser.load() != nullptr || section->active_calls.load() != 0) platform::sleep_ms(50);
  delete section;
  Section = nullptr;
}
