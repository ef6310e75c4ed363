#pragma once
// Per-OS primitives behind platform::Thread.
#include <cstddef>

namespace platform {
struct ThreadAccess;
namespace os {
using Entry = void (*)(void* arg);
// Starts `entry(arg)` on a new thread with the stack size; detached when `detached`.
bool start_thread(Entry entry, void* arg, std::size_t stack_size, bool detached, void** handle);
void join_thread(void* handle);
void sleep_ms(unsigned milliseconds);
}  // namespace os
}  // namespace platform
