#pragma once
// The program's main procedure runs its body through run_guarded: whatever leaves the body ends the
// program with one line on standard error and exit status 1, never an abort.
#include <functional>

int run_guarded(const std::function<void()>& body);
