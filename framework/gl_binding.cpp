#include "framework/gl_binding.h"

#include <memory>

#include "platform/dynamic_library.h"

GLFunctions gl;

namespace {
std::unique_ptr<platform::DynamicLibrary> g_gl;
std::unique_ptr<platform::DynamicLibrary> g_glu;

using GetProcAddressFn = void* (GLAPIENTRY*)(const char*);

template <typename T>
bool resolve(const platform::DynamicLibrary& lib, const char* name, T& slot) {
  slot = reinterpret_cast<T>(lib.Symbol(name));
  return slot != nullptr;
}

GetProcAddressFn find_get_proc_address(const platform::DynamicLibrary& lib) {
#ifdef _WIN32
  return reinterpret_cast<GetProcAddressFn>(lib.Symbol("wglGetProcAddress"));
#else
  auto fn = reinterpret_cast<GetProcAddressFn>(lib.Symbol("glXGetProcAddressARB"));
  if (!fn) fn = reinterpret_cast<GetProcAddressFn>(lib.Symbol("glXGetProcAddress"));
  return fn;
#endif
}

// Buffer objects are named with and without the ARB suffix depending on the driver.
template <typename T>
void resolve_extension(const platform::DynamicLibrary& lib, GetProcAddressFn gpa, const char* name, T& slot) {
  if (resolve(lib, name, slot)) return;
  const std::string arb = std::string(name) + "ARB";
  if (resolve(lib, arb.c_str(), slot)) return;
  if (!gpa) return;
  slot = reinterpret_cast<T>(gpa(name));
  if (!slot) slot = reinterpret_cast<T>(gpa(arb.c_str()));
}
}  // namespace

const char* DefaultGLLibraryName() {
#ifdef _WIN32
  return "OpenGL32.dll";
#else
  return "libGL.so.1";
#endif
}

const char* DefaultGLULibraryName() {
#ifdef _WIN32
  return "GLU32.dll";
#else
  return "libGLU.so.1";
#endif
}

bool LoadOpenGL(const std::string& gl_library, const std::string& glu_library, std::string* error) {
  UnloadOpenGL();
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    UnloadOpenGL();
    return false;
  };
  auto lib = std::make_unique<platform::DynamicLibrary>();
  if (!lib->Open(gl_library)) return fail("cannot open " + gl_library + ": " + platform::DynamicLibrary::LastError());
  auto glu = std::make_unique<platform::DynamicLibrary>();
  if (!glu->Open(glu_library)) return fail("cannot open " + glu_library + ": " + platform::DynamicLibrary::LastError());

  GLFunctions table;
#define STARLACE_GL_RESOLVE(ret, name, params, args) \
  if (!resolve(*lib, #name, table.name)) return fail("missing entry point " #name);
  STARLACE_GL_CORE_FUNCS(STARLACE_GL_RESOLVE)
#undef STARLACE_GL_RESOLVE
#define STARLACE_GLU_RESOLVE(ret, name, params, args) \
  if (!resolve(*glu, #name, table.name)) return fail("missing entry point " #name);
  STARLACE_GLU_FUNCS(STARLACE_GLU_RESOLVE)
#undef STARLACE_GLU_RESOLVE
  const GetProcAddressFn gpa = find_get_proc_address(*lib);
#define STARLACE_EXT_RESOLVE(ret, name, params, args) resolve_extension(*lib, gpa, #name, table.name);
  STARLACE_GL_EXT_FUNCS(STARLACE_EXT_RESOLVE)
#undef STARLACE_EXT_RESOLVE

  gl = table;
  g_gl = std::move(lib);
  g_glu = std::move(glu);
  if (error) error->clear();
  return true;
}

bool LoadOpenGL(std::string* error) { return LoadOpenGL(DefaultGLLibraryName(), DefaultGLULibraryName(), error); }

void UnloadOpenGL() {
  gl = GLFunctions{};
  g_glu.reset();
  g_gl.reset();
}

bool OpenGLLoaded() { return g_gl != nullptr; }

void InitGLBindingModule() { gl = GLFunctions{}; }

void DoneGLBindingModule() { UnloadOpenGL(); }
