#!/usr/bin/env bash
# Compiles the per-OS layer and the SDL-free run-time support for 32-bit Windows with mingw-w64
# (syntax only), so the Windows side keeps compiling before its build exists. The SDL-dependent
# units need Windows SDL 1.2 development files, which come with the Windows build.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cxx="${MINGW_CXX:-i686-w64-mingw32-g++-posix}"
if ! command -v "$cxx" >/dev/null; then
  echo "$cxx not found: apt-get install mingw-w64" >&2
  exit 1
fi
cd "$here"
for f in platform/thread.cpp platform/win32/*.cpp framework/streams.cpp framework/format.cpp \
         framework/random.cpp framework/helpers.cpp framework/program_entry.cpp framework/gl_binding.cpp; do
  "$cxx" -std=c++17 -Wall -Wextra -Werror -fsyntax-only -I. "$f"
done
echo "Windows compile check passed."
