#pragma once
// Starts Xvfb on a free display for the lifetime of the object and points DISPLAY at it.
#include <string>
#include <sys/types.h>

class Xvfb {
 public:
  Xvfb();
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;
  bool ok() const { return display_ >= 0; }
  // ":N"
  std::string display() const { return ":" + std::to_string(display_); }
  const std::string& error() const { return error_; }

 private:
  pid_t pid_ = -1;
  int display_ = -1;
  std::string error_;
};
