#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing), then configures and builds.
# Usage: scripts/setup.sh [build-dir [extra cmake arguments...]]   (default build dir: build)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build}"
[ "$#" -gt 0 ] && shift

packages=(
  build-essential cmake pkg-config clang libclang-rt-14-dev
  libsdl1.2-dev libsdl-mixer1.2-dev libsdl-ttf2.0-dev libsdl-image1.2-dev
  libgl-dev libglu1-mesa-dev libgl1-mesa-dri libglx-mesa0 libglu1-mesa mesa-utils
  xvfb xauth xdotool x11-apps imagemagick
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libinih-dev libpng-dev libfreetype-dev libvorbis-dev libogg-dev
  fonts-dejavu-core fonts-dejavu-extra fonts-liberation fonts-freefont-ttf
)

"$here/scripts/install-packages.sh" "${packages[@]}"

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$build" -j"$(nproc)"
