#include "framework/critical_sections.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {
using Events = std::vector<std::string>;

// Queue entries (owner included), counted under the section's internal lock.
int Queued(PstwCriticalSection s) {
  stwAcquireSectionLock(s);
  int n = 0;
  for (PstwCriticalSectionUser u = s->FirstUser.load(); u; u = u->NextUser) ++n;
  s->LockCounter.store(0);
  return n;
}

void WaitUntilQueued(PstwCriticalSection s, int n) {
  while (Queued(s) < n) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

// Records what the threads did, in order.
struct Journal {
  std::mutex mutex;
  Events events;
  void Add(const std::string& e) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(e);
  }
  Events Get() {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
  }
};

// A thread that enters, notes "<name> in" and "<name> out", and leaves.
std::thread Visitor(PstwCriticalSection s, Journal& j, const std::string& name) {
  return std::thread([s, &j, name] {
    stwEnterCriticalSection(s);
    j.Add(name + " in");
    j.Add(name + " out");
    stwLeaveCriticalSection(s);
  });
}
}  // namespace

TEST(CriticalSection, NestedEntriesAndArrivalOrderHandOver) {
  PstwCriticalSection s = stwCreateCriticalSection();
  Journal j;
  for (int i = 0; i < 3; ++i) stwEnterCriticalSection(s);  // P, three levels deep
  std::thread q = Visitor(s, j, "Q");
  WaitUntilQueued(s, 2);
  std::thread r = Visitor(s, j, "R");
  WaitUntilQueued(s, 3);
  stwLeaveCriticalSection(s);
  stwLeaveCriticalSection(s);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(j.Get().empty());  // still P's after two of three leaves
  // P leaves for good and enters again at once: it queues behind Q and R.
  stwLeaveCriticalSection(s);
  stwEnterCriticalSection(s);
  j.Add("P in");
  stwLeaveCriticalSection(s);
  q.join();
  r.join();
  EXPECT_EQ(j.Get(), (Events{"Q in", "Q out", "R in", "R out", "P in"}));
  EXPECT_EQ(s->OwnerThread.load(), 0u);
  EXPECT_EQ(s->LastUser, nullptr);
  stwDisposeCriticalSection(s);
  EXPECT_EQ(s, nullptr);
}

TEST(CriticalSection, DisposalTurnsNewcomersAwayAndWaitsForEveryUser) {
  PstwCriticalSection s = stwCreateCriticalSection();
  Journal j;
  stwEnterCriticalSection(s);  // P
  std::thread q = Visitor(s, j, "Q");
  WaitUntilQueued(s, 2);
  PstwCriticalSection handle = s;
  std::thread disposer([&handle, &j] {
    stwDisposeCriticalSection(handle);
    j.Add("disposed");
  });
  while (s->Disposing.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  std::string refused;
  std::thread([s, &refused] {
    try {
      stwEnterCriticalSection(s);
    } catch (const ECriticalSectionError& e) {
      refused = std::string(e.ClassName()) + ": " + e.Message();
    }
  }).join();
  EXPECT_EQ(refused, "ECriticalSectionDispose: Critical section is going to be disposed.");
  PstwCriticalSection copy = s;
  stwDisposeCriticalSection(copy);  // already under way: only clears its pointer
  EXPECT_EQ(copy, nullptr);

  stwEnterCriticalSection(s);  // the owner may still re-enter
  stwLeaveCriticalSection(s);
  EXPECT_TRUE(j.Get().empty());
  stwLeaveCriticalSection(s);
  q.join();
  disposer.join();
  EXPECT_EQ(j.Get(), (Events{"Q in", "Q out", "disposed"}));
  EXPECT_EQ(handle, nullptr);
}

TEST(CriticalSection, ManyThreadsNeverOverlapNorLoseAWakeUp) {
  PstwCriticalSection s = stwCreateCriticalSection();
  int64_t counter = 0;  // unsynchronised on purpose: the section alone guards it
  std::atomic<int> inside{0}, overlaps{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 150; ++i) {
        stwEnterCriticalSection(s);
        overlaps += inside.fetch_add(1) != 0;
        stwEnterCriticalSection(s);
        ++counter;
        stwLeaveCriticalSection(s);
        inside.fetch_sub(1);
        stwLeaveCriticalSection(s);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 600);
  EXPECT_EQ(overlaps.load(), 0);
  stwDisposeCriticalSection(s);
}
