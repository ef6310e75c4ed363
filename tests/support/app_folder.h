#pragma once
// Points ApplicationPath at a fresh temporary folder for the length of a test.
#include <string>

#include "framework/sdl_manager.h"
#include "tests/support/temp_dir.h"

class AppFolder {
 public:
  AppFolder() : old_(ApplicationPath) { ApplicationPath = dir.path(); }
  ~AppFolder() { ApplicationPath = old_; }
  AppFolder(const AppFolder&) = delete;
  AppFolder& operator=(const AppFolder&) = delete;
  TempDir dir;

 private:
  std::string old_;
};
