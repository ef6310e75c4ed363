#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

namespace platform {

// Signalled once a thread's Execute has returned and its object is about to be freed (or has
// ended, for threads that are not freed on termination). It outlives the thread object, so a
// waiter never touches a freed thread.
class ThreadEndSignal {
 public:
  void Signal();
  bool Ended() const;
  void Wait() const;
  // Waits at most `milliseconds`; true when the thread ended.
  bool WaitFor(unsigned milliseconds) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  bool ended_ = false;
};

// The run-time thread class: created suspended with a stack size, started by Resume, asked to
// stop through the terminate flag, optionally freed by itself when Execute returns.
class Thread {
 public:
  explicit Thread(std::size_t stack_size);
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts the thread. A second call does nothing. False when the thread could not be created.
  bool Resume();
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }
  // Only to be set before Resume.
  void SetFreeOnTerminate(bool value) { free_on_terminate_ = value; }
  bool FreeOnTerminate() const { return free_on_terminate_; }
  bool Started() const { return started_; }
  // Blocks until Execute has returned. Must not be used on a thread freed on termination (use
  // the end signal instead).
  void WaitFor();
  std::shared_ptr<ThreadEndSignal> EndSignal() const { return end_signal_; }
  std::size_t StackSize() const { return stack_size_; }

 protected:
  virtual void Execute() = 0;
  // Runs on the thread after Execute (also after Execute raised), before the object is freed.
  virtual void DoTerminate() {}

 private:
  static void run(Thread* self);
  friend struct ThreadAccess;

  std::size_t stack_size_;
  std::atomic<bool> terminated_{false};
  bool free_on_terminate_ = false;
  bool started_ = false;
  bool joined_ = false;
  void* handle_ = nullptr;
  std::shared_ptr<ThreadEndSignal> end_signal_ = std::make_shared<ThreadEndSignal>();
};

// Sleeps the calling thread.
void sleep_ms(unsigned milliseconds);

}  // namespace platform
