#pragma once
// Runs the real starlace from a fresh temporary folder (a copy of the program and a data folder)
// under its own Xvfb, with SDL's dummy audio driver; drives it with xdotool, reads its logs and
// takes screenshots of the root window.
//
// The program is this build's own, unless the environment names another: STARLACE_PROGRAM (e.g. the
// Windows build's starlace.exe), STARLACE_DATA (its data folder) and STARLACE_LAUNCHER (a command
// that runs it, e.g. the wine launcher; the program's path and arguments follow it).
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/xvfb.h"

struct Screenshot {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3
  // Pixels whose brightest channel is at least `threshold`.
  size_t bright_pixels(int threshold = 100) const;
  bool same_as(const Screenshot& other) const { return rgb == other.rgb; }
};

class StarlaceRun {
 public:
  // Copies the program and the bundled data folder into a temporary folder. `edit` may change the
  // folder before the program starts (settings, song files).
  StarlaceRun();
  ~StarlaceRun();

  const TempDir& folder() const { return dir_; }
  std::string data(const std::string& relative) const { return dir_.file("data/" + relative); }

  // Starts the program and waits until its start-up is complete and its window is found; false
  // when it could not start, ended during start-up, or took too long.
  bool start(const std::vector<std::string>& args = {});
  // Sends one key (xdotool name, e.g. "Return", "space", "1", "shift+2").
  void key(const std::string& name);
  Screenshot screenshot() const;
  // Waits until pred holds, polling; false on time-out.
  // Waits are in seconds of a native run; STARLACE_TIME_FACTOR (1 to 100) stretches them all.
  static double time_factor();
  static bool wait_for(const std::function<bool()>& pred, double seconds);
  // Waits for the program to end; returns its exit status, or -1 on time-out (then kills it).
  int wait_exit(double seconds);
  bool running();
  // Sends a signal to the running program.
  void send_signal(int signal_number);
  // Sends keys (xdotool names) one after the other, `delay_ms` apart, through one xdotool call.
  void keys(const std::vector<std::string>& names, int delay_ms);
  std::string log() const { return dir_.read("log.txt"); }
  std::string html_log() const { return dir_.read("log.html"); }
  std::string stdout_text() const { return dir_.read("stdout.txt"); }
  std::string stderr_text() const { return dir_.read("stderr.txt"); }
  // Leak reports (sanitizer builds) whose stack passes through the project's own sources.
  std::string own_leaks() const;
  // Memory errors and undefined behaviour (sanitizer builds) that the program reported, and its own
  // leaks; a run that has any fails its test when the run is destroyed.
  std::string sanitizer_reports() const;
  const Xvfb& display() const { return xvfb_; }
  // The Windows program: it reads the performance counter instead of gettimeofday.
  bool windows_program() const;
  // The log lines of the program's clock, in order (the last may be only the start of a line).
  std::vector<std::string> clock_log_lines() const;
  std::string window_id() const { return window_; }
  // Limits the size of every file the program writes (RLIMIT_FSIZE; a write beyond it fails with
  // EFBIG instead of ending the program). 0: no limit.
  void limit_file_size(long bytes) { file_size_limit_ = bytes; }

 private:
  TempDir dir_;
  std::string program_;   // the copy in the folder
  std::string launcher_;  // empty: the program runs directly
  Xvfb xvfb_;
  pid_t pid_ = -1;
  int exit_status_ = -1;  // once the program has ended
  std::string window_;
  long file_size_limit_ = 0;
};

// Runs a shell command with DISPLAY set; returns its standard output.
std::string run_command(const std::string& command);
