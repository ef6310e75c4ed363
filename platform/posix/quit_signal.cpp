#include "platform/quit_signal.h"

#include <signal.h>
#include <time.h>

#include <atomic>

namespace platform {
namespace {
// Lock-free, so any thread may read it; only quit_requested writes it.
std::atomic<bool> g_quit{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the quit mark must be lock-free");

sigset_t quit_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}
}  // namespace

void block_quit_signals() {
  const sigset_t set = quit_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void watch_quit_signals() { block_quit_signals(); }

bool quit_requested() {
  // The signals stay pending while every thread blocks them: taking them here, synchronously, means
  // no handler ever runs, on this thread or on any other.
  const sigset_t set = quit_signals();
  const timespec now{0, 0};
  while (sigtimedwait(&set, nullptr, &now) > 0) g_quit.store(true);
  return g_quit.load();
}

}  // namespace platform
