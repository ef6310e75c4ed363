#!/usr/bin/env bash
# Installs what the 32-bit (i386) Linux build needs (only what is missing), then configures and
# builds it through scripts/setup.sh with the i386 toolchain file.
# Usage: scripts/setup-i386.sh [build-dir [extra cmake arguments...]]   (default: build-i386)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build-i386}"
[ "$#" -gt 0 ] && shift

# The multilib compiler and the i386 runtime libraries; the SDL 1.2 headers come from the amd64
# -dev packages that scripts/setup.sh installs (the i386 -dev packages cannot sit beside them), and
# so do the fonts the text layer's tests read (fonts are the same for every architecture).
packages=(
  g++-multilib file
  libsdl1.2debian:i386 libsdl-mixer1.2:i386 libsdl-ttf2.0-0:i386 libsdl-image1.2:i386
  libgl1:i386 libglu1-mesa:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386
  libgtest-dev:i386 libinih-dev:i386 libpng-dev:i386 libvorbis-dev:i386 libogg-dev:i386 libfreetype-dev:i386
)

"$here/scripts/install-packages.sh" "${packages[@]}"

"$here/scripts/setup.sh" "$build" -DCMAKE_TOOLCHAIN_FILE="$here/platform/linux-i386/toolchain.cmake" \
  -DSTARLACE_BENCH=OFF "$@"
