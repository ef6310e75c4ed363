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

int main(int argc, char** argv) {
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
