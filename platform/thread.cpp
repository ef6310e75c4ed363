#include "platform/thread.h"

#include <chrono>

#include "platform/thread_os.h"

namespace platform {

void ThreadEndSignal::Signal() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
  }
  cv_.notify_all();
}

bool ThreadEndSignal::Ended() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ended_;
}

void ThreadEndSignal::Wait() const {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return ended_; });
}

bool ThreadEndSignal::WaitFor(unsigned milliseconds) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return ended_; });
}

Thread::Thread(std::size_t stack_size) : stack_size_(stack_size) {}

Thread::~Thread() {
  // A thread that frees itself is past its Execute here; any other is stopped and joined.
  if (started_ && !free_on_terminate_ && !joined_) {
    Terminate();
    WaitFor();
  }
}

struct ThreadAccess {
  static void entry(void* arg) { Thread::run(static_cast<Thread*>(arg)); }
};

bool Thread::Resume() {
  if (started_) return true;
  started_ = true;
  // A thread freed on termination may be gone before start_thread returns: touch no member after.
  const bool detached = free_on_terminate_;
  void* handle = nullptr;
  if (!os::start_thread(&ThreadAccess::entry, this, stack_size_, detached, &handle)) {
    started_ = false;
    return false;
  }
  if (!detached) handle_ = handle;
  return true;
}

void Thread::run(Thread* self) {
  try {
    self->Execute();
  } catch (...) {
    // An exception must not end the process from a worker thread; Execute reports its own.
  }
  try {
    self->DoTerminate();
  } catch (...) {
  }
  auto signal = self->end_signal_;
  if (self->free_on_terminate_) delete self;
  signal->Signal();
}

void Thread::WaitFor() {
  if (!started_ || joined_ || free_on_terminate_) {
    if (started_ && free_on_terminate_) end_signal_->Wait();
    return;
  }
  os::join_thread(handle_);
  joined_ = true;
}

void sleep_ms(unsigned milliseconds) { os::sleep_ms(milliseconds); }

}  // namespace platform
