#include "platform/quit_signal.h"

#include <atomic>
#include <csignal>

namespace platform {
namespace {
// The C run-time calls the handler on a thread of its own: a lock-free atomic is safe there.
std::atomic<bool> g_quit{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the quit mark must be lock-free");

extern "C" void on_quit_signal(int signal_number) {
  g_quit.store(true);
  std::signal(signal_number, on_quit_signal);  // the run-time resets it before each call
}
}  // namespace

void block_quit_signals() {}

void watch_quit_signals() {
  std::signal(SIGINT, on_quit_signal);
  std::signal(SIGBREAK, on_quit_signal);
  std::signal(SIGTERM, on_quit_signal);
}

bool quit_requested() { return g_quit.load(); }

}  // namespace platform
