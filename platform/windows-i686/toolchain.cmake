# 32-bit Windows (i686-w64-mingw32, POSIX threads), linked statically against the libraries that
# scripts/build-windows-deps.sh puts into one prefix. The build runs no Windows program (the data
# generators are built for the host); the programs ctest runs go through wine (wine-run.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(STARLACE_WINDOWS_HOST i686-w64-mingw32)
set(CMAKE_C_COMPILER ${STARLACE_WINDOWS_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${STARLACE_WINDOWS_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${STARLACE_WINDOWS_HOST}-windres)

if(NOT STARLACE_WINDOWS_DEPS)
  set(STARLACE_WINDOWS_DEPS ${CMAKE_CURRENT_LIST_DIR}/../../build-windows-deps/prefix)
endif()
get_filename_component(STARLACE_WINDOWS_DEPS "${STARLACE_WINDOWS_DEPS}" ABSOLUTE)
set(STARLACE_WINDOWS_DEPS "${STARLACE_WINDOWS_DEPS}" CACHE PATH "Prefix of the Windows dependencies")
# Try-compile projects need the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES STARLACE_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH ${STARLACE_WINDOWS_DEPS} /usr/${STARLACE_WINDOWS_HOST})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} ${STARLACE_WINDOWS_DEPS}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# SSE maths, as on the 64-bit build: x87 double rounding changes results.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
# One file per program: no MinGW run-time DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
