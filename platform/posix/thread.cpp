#include <limits.h>
#include <pthread.h>
#include <time.h>

#include <cerrno>

#include "platform/quit_signal.h"
#include "platform/thread_os.h"

namespace platform {
namespace os {
namespace {
struct StartArgs {
  Entry entry;
  void* arg;
};

void* trampoline(void* p) {
  // Whatever thread started this one, the quit signals are for the frame loop's thread only.
  block_quit_signals();
  StartArgs args = *static_cast<StartArgs*>(p);
  delete static_cast<StartArgs*>(p);
  args.entry(args.arg);
  return nullptr;
}
}  // namespace

bool start_thread(Entry entry, void* arg, std::size_t stack_size, bool detached, void** handle) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  const std::size_t min_stack = static_cast<std::size_t>(PTHREAD_STACK_MIN);
  std::size_t size = stack_size < min_stack ? min_stack : stack_size;
  pthread_attr_setstacksize(&attr, size);
  if (detached) pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  auto* args = new StartArgs{entry, arg};
  auto* tid = new pthread_t;
  const int rc = pthread_create(tid, &attr, &trampoline, args);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete args;
    delete tid;
    *handle = nullptr;
    return false;
  }
  if (detached) {
    delete tid;
    *handle = nullptr;
  } else {
    *handle = tid;
  }
  return true;
}

void join_thread(void* handle) {
  if (!handle) return;
  auto* tid = static_cast<pthread_t*>(handle);
  pthread_join(*tid, nullptr);
  delete tid;
}

void sleep_ms(unsigned milliseconds) {
  timespec ts{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
  }
}

}  // namespace os
}  // namespace platform
