#include "tests/e2e/starlace_run.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

size_t Screenshot::bright_pixels(int threshold) const {
  size_t n = 0;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
    const int m = std::max({rgb[i], rgb[i + 1], rgb[i + 2]});
    n += m >= threshold;
  }
  return n;
}

std::string run_command(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

namespace {
std::string from_env(const char* name, const char* otherwise) {
  const char* value = std::getenv(name);
  return value && *value ? value : otherwise;
}
}  // namespace

StarlaceRun::StarlaceRun() {
  const fs::path program = from_env("STARLACE_PROGRAM", STARLACE_BINARY);
  launcher_ = from_env("STARLACE_LAUNCHER", "");
  program_ = dir_.file(program.filename().string());
  fs::copy_file(program, program_);
  fs::permissions(program_, fs::perms::owner_all);
  fs::copy(from_env("STARLACE_DATA", STARLACE_DATA_DIR), dir_.file("data"), fs::copy_options::recursive);
}

bool StarlaceRun::windows_program() const { return fs::path(program_).extension() == ".exe"; }

std::vector<std::string> StarlaceRun::clock_log_lines() const {
  if (windows_program())
    return {"[Info@InitTimer]: Using PerformanceCounter as timer.\r\n", "[Debug@InitTimer]: Counter frequency is "};
  return {"[Info@InitTimer]: Using gettimeofday as timer.\r\n"};
}

StarlaceRun::~StarlaceRun() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  const std::string reports = sanitizer_reports();
  if (!reports.empty()) ADD_FAILURE() << "sanitizer reports of the program:\n" << reports;
}

bool StarlaceRun::start(const std::vector<std::string>& args) {
  if (!xvfb_.ok()) return false;
  pid_ = fork();
  if (pid_ == 0) {
    if (chdir(dir_.path().c_str()) != 0) _exit(126);
    std::freopen("stdout.txt", "w", stdout);
    std::freopen("stderr.txt", "w", stderr);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    // Under the leak checker, leaks inside the GL driver that is unloaded at exit cannot be
    // attributed or suppressed; report every leak but judge only those through our sources. The
    // exit code is common to every sanitizer, so a memory error aborts instead of exiting with it.
    const char* lsan = getenv("LSAN_OPTIONS");
    setenv("LSAN_OPTIONS", (std::string(lsan ? lsan : "") + ":exitcode=0:abort_on_error=1").c_str(), 1);
    setenv("LP_NUM_THREADS", "2", 1);
    if (file_size_limit_ > 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{static_cast<rlim_t>(file_size_limit_), static_cast<rlim_t>(file_size_limit_)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<std::string> all = {program_};
    if (!launcher_.empty()) all.insert(all.begin(), launcher_);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (pid_ < 0) return false;
  // Wait until start-up is complete (or the program has ended), then find the window.
  const std::string search =
      "DISPLAY=" + xvfb_.display() + " xdotool search --name '^Quorl Sparkade$' 2>/dev/null | tail -n 1";
  const bool ready = wait_for(
      [&] {
        if (!running()) return true;
        if (log().find("]: Quorl Sparkade V0.9.0 initialized.") == std::string::npos) return false;
        window_ = run_command(search);
        while (!window_.empty() && (window_.back() == '\n' || window_.back() == '\r')) window_.pop_back();
        return !window_.empty();
      },
      60.0);
  if (!ready || window_.empty() || !running()) return false;
  // Focus follows the pointer (no window manager): keep the pointer inside the window. Wine hands
  // keys only to the window it takes as the foreground one, which a click makes it for sure (the
  // show ignores mouse buttons).
  std::string place = "DISPLAY=" + xvfb_.display() + " xdotool mousemove --sync --window " + window_ + " 100 100";
  if (windows_program()) place += " click 1";
  run_command(place + " 2>/dev/null");
  return true;
}

void StarlaceRun::key(const std::string& name) {
  // Real key events through the server (XTEST), to the window under the pointer. Modifiers are
  // held down around the key with pauses, so the program sees them whatever its event timing.
  std::string modifiers, key = name;
  for (size_t plus; (plus = key.find('+')) != std::string::npos; key.erase(0, plus + 1))
    modifiers += " " + key.substr(0, plus);
  const std::string pause = " sleep " + std::to_string(0.1 * time_factor());  // a slow run pumps events late
  std::string command = "DISPLAY=" + xvfb_.display() + " xdotool mousemove --window " + window_ + " 100 100";
  if (!modifiers.empty()) command += " keydown" + modifiers + pause;
  command += " key " + key;
  if (!modifiers.empty()) command += pause + " keyup" + modifiers;
  run_command(command + " 2>/dev/null");
}

void StarlaceRun::keys(const std::vector<std::string>& names, int delay_ms) {
  std::string command = "DISPLAY=" + xvfb_.display() + " xdotool mousemove --window " + window_ +
                        " 100 100 key --delay " + std::to_string(delay_ms);
  for (const std::string& name : names) command += " " + name;
  run_command(command + " 2>/dev/null");
}

void StarlaceRun::send_signal(int signal_number) {
  if (pid_ > 0) kill(pid_, signal_number);
}

Screenshot StarlaceRun::screenshot() const {
  Screenshot shot;
  const std::string xwd = dir_.file("shot.xwd");
  run_command("DISPLAY=" + xvfb_.display() + " xwd -root -silent > " + xwd);
  const std::string bytes = read_file(xwd);
  // XWD: a big-endian header of 25 32-bit words, then the window name, then colour map entries,
  // then the pixels (32 bits per pixel at depth 24 on Xvfb).
  auto word = [&](size_t i) -> uint32_t {
    if (bytes.size() < (i + 1) * 4) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + i * 4;
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  };
  const uint32_t header_size = word(0), width = word(4), height = word(5), byte_order = word(7),
                 bits_per_pixel = word(11), bytes_per_line = word(12), ncolors = word(19);
  // Xvfb reports 24 or 32 bits per pixel depending on the visual of the windows on screen; the
  // pixels are 4 bytes apart either way.
  const uint32_t stride = width ? bytes_per_line / width : 0;
  if ((bits_per_pixel != 24 && bits_per_pixel != 32) || (stride != 3 && stride != 4)) return shot;
  const size_t offset = header_size + size_t{ncolors} * 12;
  if (bytes.size() < offset + size_t{bytes_per_line} * height) return shot;
  shot.width = static_cast<int>(width);
  shot.height = static_cast<int>(height);
  shot.rgb.resize(size_t{width} * height * 3);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + offset + size_t{y} * bytes_per_line + x * stride;
      uint8_t r, g, b;
      if (byte_order == 0) {  // LSBFirst: B G R [X]
        b = p[0]; g = p[1]; r = p[2];
      } else {
        const unsigned char* q = stride == 4 ? p + 1 : p;
        r = q[0]; g = q[1]; b = q[2];
      }
      uint8_t* o = &shot.rgb[(size_t{y} * width + x) * 3];
      o[0] = r; o[1] = g; o[2] = b;
    }
  }
  return shot;
}

double StarlaceRun::time_factor() {
  // An emulated run (a 32-bit program under qemu) is several times slower; its test stage says
  // by how much, and every wait grows by that factor.
  static const double factor = [] {
    const double f = std::atof(from_env("STARLACE_TIME_FACTOR", "1").c_str());
    return f >= 1 && f <= 100 ? f : 1.0;
  }();
  return factor;
}

bool StarlaceRun::wait_for(const std::function<bool()>& pred, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * time_factor());
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return pred();
}

namespace {
int exit_code(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }
}  // namespace

std::string StarlaceRun::own_leaks() const {
  // A leak report is a block of frame lines after "Direct leak" or "Indirect leak"; keep the blocks
  // whose stack passes through this project's sources.
  const std::string err = stderr_text();
  std::string found;
  for (size_t at = err.find(" leak of "); at != std::string::npos; at = err.find(" leak of ", at + 1)) {
    const size_t end = err.find("\n\n", at);
    const std::string block = err.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (block.find(STARLACE_SOURCE_DIR) != std::string::npos) found += block + "\n";
  }
  return found;
}

std::string StarlaceRun::sanitizer_reports() const {
  // A report runs from its first line to the next empty line (a stack trace ends with one).
  const std::string err = stderr_text();
  std::string found;
  for (const char* mark : {"ERROR: AddressSanitizer", "runtime error:"}) {
    for (size_t at = err.find(mark); at != std::string::npos; at = err.find(mark, at + 1)) {
      const size_t line = err.rfind('\n', at);
      const size_t begin = line == std::string::npos ? 0 : line + 1;
      const size_t end = err.find("\n\n", at);
      found += err.substr(begin, end == std::string::npos ? std::string::npos : end - begin) + "\n";
    }
  }
  return found + own_leaks();
}

bool StarlaceRun::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
  pid_ = -1;
  exit_status_ = exit_code(status);
  return false;
}

int StarlaceRun::wait_exit(double seconds) {
  if (pid_ <= 0) return exit_status_;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * time_factor());
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      exit_status_ = exit_code(status);
      return exit_status_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
  return -1;
}
