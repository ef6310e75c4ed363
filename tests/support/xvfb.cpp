#include "tests/support/xvfb.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {
// Keeps the GL driver libraries mapped until exit, so that leak reports from inside them (SDL and
// Mesa unload them at shut-down) keep their module names and the suppression file applies.
void pin_gl_libraries() {
  static const bool pinned = [] {
    for (const char* lib : {"libGL.so.1", "libGLX.so.0", "libGLX_mesa.so.0", "libGLU.so.1",
                            "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so"})
      dlopen(lib, RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
    return true;
  }();
  (void)pinned;
}
}  // namespace

Xvfb::Xvfb() {
  pin_gl_libraries();
  int fds[2];
  if (pipe(fds) != 0) {
    error_ = "pipe failed";
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    // A test that ran the application has the quit signals blocked, and exec keeps the mask: the
    // server must still end on SIGTERM.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    // -displayfd lets the server pick a free display and tell us which.
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  if (pid_ < 0) {
    close(fds[0]);
    error_ = "fork failed";
    return;
  }
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  while (poll(&p, 1, 20000) > 0) {
    char c;
    if (read(fds[0], &c, 1) != 1) break;
    if (c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) {
    error_ = "Xvfb did not report a display (is the xvfb package installed?)";
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return;
  }
  display_ = std::atoi(number.c_str());
  setenv("DISPLAY", display().c_str(), 1);
}

Xvfb::~Xvfb() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}
