// The program starlace: module initialisation in its fixed order, the show, and finalisation in
// reverse. Whatever escapes the show ends the program with one line on standard error.
#include "engine/effect_manager.h"
#include "engine/frustum.h"
#include "framework/gl_binding.h"
#include "framework/helpers.h"
#include "framework/log_manager.h"
#include "framework/program_entry.h"
#include "framework/sdl_manager.h"
#include "show/main.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  // Log lines end with CR LF already: in text mode Windows would turn it into CR CR LF.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  SetCommandLine(argc, argv);
  InitGLBindingModule();
  InitSdlManagerModule();
  InitContextFrustumModule();
  InitEffectManagerModule();
  InitMainModule();

  const int status = run_guarded(&RunFirework);

  DoneEffectManagerModule();
  DoneContextFrustumModule();
  DoneSdlManagerModule();
  DoneLogManagerModule();
  DoneGLBindingModule();
  RunExitProcs();
  return status;
}
