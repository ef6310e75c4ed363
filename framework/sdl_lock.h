#pragma once
// Holds an SDL mutex for the length of a scope.
#include <SDL/SDL_mutex.h>

class SdlMutexLock {
 public:
  explicit SdlMutexLock(SDL_mutex* m) : m_(m) { SDL_mutexP(m_); }
  ~SdlMutexLock() { SDL_mutexV(m_); }
  SdlMutexLock(const SdlMutexLock&) = delete;
  SdlMutexLock& operator=(const SdlMutexLock&) = delete;

 private:
  SDL_mutex* m_;
};
