#include <windows.h>
#include <process.h>

#include "platform/thread_os.h"

namespace platform {
namespace os {
namespace {
struct StartArgs {
  Entry entry;
  void* arg;
};

unsigned __stdcall trampoline(void* p) {
  StartArgs args = *static_cast<StartArgs*>(p);
  delete static_cast<StartArgs*>(p);
  args.entry(args.arg);
  return 0;
}
}  // namespace

bool start_thread(Entry entry, void* arg, std::size_t stack_size, bool detached, void** handle) {
  auto* args = new StartArgs{entry, arg};
  const uintptr_t h = _beginthreadex(nullptr, static_cast<unsigned>(stack_size), &trampoline, args,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (h == 0) {
    delete args;
    *handle = nullptr;
    return false;
  }
  if (detached) {
    CloseHandle(reinterpret_cast<HANDLE>(h));
    *handle = nullptr;
  } else {
    *handle = reinterpret_cast<void*>(h);
  }
  return true;
}

void join_thread(void* handle) {
  if (!handle) return;
  WaitForSingleObject(static_cast<HANDLE>(handle), INFINITE);
  CloseHandle(static_cast<HANDLE>(handle));
}

void sleep_ms(unsigned milliseconds) { Sleep(milliseconds); }

}  // namespace os
}  // namespace platform
