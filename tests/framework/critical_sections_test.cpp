#include "framework/critical_sections.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Entries in the section's queue (owner included), counted under the internal lock.
int Queued(PstwCriticalSection s) {
  stwAcquireSectionLock(s);
  int n = 0;
  for (PstwCriticalSectionUser u = s->FirstUser.load(); u; u = u->NextUser) ++n;
  s->LockCounter.store(0);
  return n;
}

void WaitUntilQueued(PstwCriticalSection s, int n) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Queued(s) < n) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "queue never reached " << n;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// What the threads did, in order.
class Journal {
 public:
  void Add(const std::string& e) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(e);
  }
  std::vector<std::string> Entries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> entries_;
};

// Enters, notes "<name> in", does `inside`, notes "<name> out", leaves.
std::thread Visitor(PstwCriticalSection s, Journal& j, const std::string& name) {
  return std::thread([s, &j, name] {
    stwEnterCriticalSection(s);
    j.Add(name + " in");
    j.Add(name + " out");
    stwLeaveCriticalSection(s);
  });
}

}  // namespace

TEST(CriticalSection, ReentryCountsAndOthersWaitForTheLastLeave) {
  PstwCriticalSection s = stwCreateCriticalSection();
  Journal j;
  stwEnterCriticalSection(s);
  stwEnterCriticalSection(s);
  stwEnterCriticalSection(s);
  EXPECT_EQ(s->RecursionCount, 3);
  EXPECT_EQ(Queued(s), 1);  // re-entries add no queue entry
  std::thread other = Visitor(s, j, "other");
  WaitUntilQueued(s, 2);
  stwLeaveCriticalSection(s);
  stwLeaveCriticalSection(s);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_TRUE(j.Entries().empty());
  EXPECT_EQ(Queued(s), 2);
  stwLeaveCriticalSection(s);
  other.join();
  EXPECT_EQ(j.Entries(), (std::vector<std::string>{"other in", "other out"}));
  EXPECT_EQ(s->OwnerThread.load(), 0u);
  EXPECT_EQ(s->FirstUser.load(), nullptr);
  EXPECT_EQ(s->LastUser, nullptr);
  stwDisposeCriticalSection(s);
  EXPECT_EQ(s, nullptr);
}

TEST(CriticalSection, WaitersGetTheSectionInArrivalOrder) {
  PstwCriticalSection s = stwCreateCriticalSection();
  Journal j;
  stwEnterCriticalSection(s);  // P
  std::thread q = Visitor(s, j, "Q");
  WaitUntilQueued(s, 2);
  std::thread r = Visitor(s, j, "R");
  WaitUntilQueued(s, 3);
  // P leaves and enters again at once: it queues behind Q and R.
  stwLeaveCriticalSection(s);
  stwEnterCriticalSection(s);
  j.Add("P in");
  stwLeaveCriticalSection(s);
  q.join();
  r.join();
  EXPECT_EQ(j.Entries(), (std::vector<std::string>{"Q in", "Q out", "R in", "R out", "P in"}));
  EXPECT_EQ(s->LastUser, nullptr);
  stwDisposeCriticalSection(s);
}

TEST(CriticalSection, DisposalTurnsNewcomersAwayAndWaitsForUsers) {
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

  std::string message;
  std::thread newcomer([s, &message] {
    try {
      stwEnterCriticalSection(s);
    } catch (const ECriticalSectionError& e) {
      message = std::string(e.ClassName()) + ": " + e.Message();
    }
  });
  newcomer.join();
  EXPECT_EQ(message, "ECriticalSectionDispose: Critical section is going to be disposed.");

  // A second disposal only clears its own pointer.
  PstwCriticalSection copy = s;
  stwDisposeCriticalSection(copy);
  EXPECT_EQ(copy, nullptr);

  // The owner may still re-enter; its leaves count down and hand over to Q.
  stwEnterCriticalSection(s);
  stwLeaveCriticalSection(s);
  EXPECT_TRUE(j.Entries().empty());
  stwLeaveCriticalSection(s);
  q.join();
  disposer.join();
  EXPECT_EQ(j.Entries(), (std::vector<std::string>{"Q in", "Q out", "disposed"}));
  EXPECT_EQ(handle, nullptr);
}

TEST(CriticalSection, ManyThreadsNeverOverlapNorLoseAWakeUp) {
  PstwCriticalSection s = stwCreateCriticalSection();
  int64_t counter = 0;  // deliberately unsynchronised: the section alone protects it
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 150; ++i) {
        stwEnterCriticalSection(s);
        if (inside.fetch_add(1) != 0) ++overlaps;
        stwEnterCriticalSection(s);
        ++counter;
        stwLeaveCriticalSection(s);
        inside.fetch_sub(1);
        stwLeaveCriticalSection(s);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 600);
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(s->LockCounter.load(), 0);
  stwDisposeCriticalSection(s);
  EXPECT_EQ(s, nullptr);
}
