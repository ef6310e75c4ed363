#pragma once
// The quit request of the operating system (SIGINT and SIGTERM on POSIX, Ctrl+C / Ctrl+Break on
// Windows), taken by the thread that runs the frame loop and by no other.

namespace platform {

// Called on the frame loop's thread before it starts any other thread. POSIX: blocks the quit
// signals there, so every thread started afterwards (the program's own, SDL's, the GL driver's)
// has them blocked too and none is ever interrupted by them; they wait for quit_requested().
void watch_quit_signals();

// True once a quit signal has arrived (it stays true). Never blocks; POSIX: takes a pending quit
// signal on the calling thread.
bool quit_requested();

// Blocks the quit signals on the calling thread (the entry of every thread the program starts).
void block_quit_signals();

}  // namespace platform
