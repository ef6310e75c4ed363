#!/usr/bin/env bash
# Cross-builds the libraries of the 32-bit Windows build from Debian's source packages into one
# static prefix: zlib, libpng, FreeType, libogg, libvorbis, libmad, SDL 1.2, SDL_mixer (OGG and
# MP3), libinih and googletest. Installs the Debian packages it needs (only those missing).
# Usage: scripts/build-windows-deps.sh [work-dir]   (default: build-windows-deps/)
# The prefix is <work-dir>/prefix; a finished prefix built by this same script is reused.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mkdir -p "${1:-$here/build-windows-deps}" && cd "${1:-$here/build-windows-deps}" && pwd)"
prefix="$work/prefix"
jobs="${STARLACE_JOBS:-$(nproc)}"
host=i686-w64-mingw32
toolchain="$here/platform/windows-i686/toolchain.cmake"

stamp="$prefix/.built-by"
recipe="$(cat "$0" "$toolchain" | sha256sum | cut -d' ' -f1)"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$recipe" ]; then
  echo "Windows dependencies: up to date in $prefix"
  exit 0
fi

packages=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
          dpkg-dev make cmake pkg-config xz-utils bzip2 googletest)
"$here/scripts/install-packages.sh" "${packages[@]}"

fail() { echo "build-windows-deps: $*" >&2; exit 1; }

# --- Sources, through a private apt configuration so the system's lists stay as they are. The
# source entries use the URIs and keyring of the configured Debian archive; trixie only for
# libinih, whose bookworm source tarballs are missing from the archive.
apt_dir="$work/apt"
rm -rf "$apt_dir" "$work/src" "$work/obj" "$prefix"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts" "$work/src" "$work/obj" "$prefix"
uri="http://deb.debian.org/debian"
keyring="/usr/share/keyrings/debian-archive-keyring.gpg"
conf="$(grep -hs -A6 '^Types:.*\bdeb\b' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)"
if grep -q '^URIs: .*/debian/*$' <<<"$conf"; then
  uri="$(grep -m1 '^URIs: .*/debian/*$' <<<"$conf" | awk '{print $2}')"
  k="$(grep -m1 '^Signed-By:' <<<"$conf" | awk '{print $2}')"
  [ -n "$k" ] && [ -f "$k" ] && keyring="$k"
fi
cat >"$apt_dir/sources.list" <<EOF
deb-src [signed-by=$keyring] $uri bookworm main
deb-src [signed-by=$keyring] $uri trixie main
EOF
apt_opts=(-o "Dir::Etc::sourcelist=$apt_dir/sources.list" -o "Dir::Etc::sourceparts=$apt_dir/parts"
          -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o "APT::Sandbox::User=root")
echo "== Fetching sources"
apt-get -q "${apt_opts[@]}" update >"$work/apt-update.log" 2>&1 || { cat "$work/apt-update.log"; fail "apt-get update failed"; }
cd "$work/src"
for p in zlib libpng1.6 freetype libogg libvorbis libsdl1.2 sdl-mixer1.2; do
  apt-get -q "${apt_opts[@]}" source "$p/bookworm" >"$work/src-$p.log" 2>&1 || { cat "$work/src-$p.log"; fail "could not fetch the source of $p"; }
done
apt-get -q "${apt_opts[@]}" source "libinih/trixie" >"$work/src-libinih.log" 2>&1 || { cat "$work/src-libinih.log"; fail "could not fetch the source of libinih"; }
# libmad's Debian diff is missing from the archive: the verified orig tarball is built alone.
apt-get -q "${apt_opts[@]}" source --download-only "libmad/bookworm" >"$work/src-libmad.log" 2>&1 || true
mad_orig="$(ls libmad_*.orig.tar.gz 2>/dev/null | head -n1)"
[ -n "$mad_orig" ] || { cat "$work/src-libmad.log"; fail "could not fetch the source of libmad"; }
tar xzf "$mad_orig"
srcdir() { local d; d="$(ls -d "$work/src/$1"*/ 2>/dev/null | head -n1)"; [ -n "$d" ] || fail "no source folder $1*"; echo "${d%/}"; }

export CC="$host-gcc-posix" CXX="$host-g++-posix" AR="$host-ar" RANLIB="$host-ranlib" STRIP="$host-strip"
export CFLAGS="-O2 -msse2 -mfpmath=sse" CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib"
export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH=""
mkdir -p "$prefix/lib/pkgconfig" "$prefix/include" "$prefix/bin"
configure() { ./configure --host="$host" --prefix="$prefix" --enable-static --disable-shared "$@" >configure.out 2>&1 || { tail -n 40 configure.out; fail "configure failed in $PWD"; }; }
build() { make -j"$jobs" >make.out 2>&1 && make install >>make.out 2>&1 || { tail -n 40 make.out; fail "build failed in $PWD"; }; }

# A library made of a few C files, built directly (zlib's configure refuses mingw hosts and its
# Windows makefile is not in Debian's tarball; libinih's own build is meson).
archive() {  # archive <lib name> <source files...>
  local name="$1"; shift
  local objs=()
  for f in "$@"; do
    "$CC" $CFLAGS $CPPFLAGS -c "$f" -o "$work/obj/$name-$(basename "${f%.c}").o" || fail "compiling $f"
    objs+=("$work/obj/$name-$(basename "${f%.c}").o")
  done
  "$AR" rcs "$prefix/lib/lib$name.a" "${objs[@]}"
}
pcfile() {  # pcfile <name> <version> <libs> [cflags]
  cat >"$prefix/lib/pkgconfig/$1.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: $1
Description: $1 (static, for the Windows build)
Version: $2
Libs: -L\${libdir} $3
Cflags: -I\${includedir}${4:+ $4}
EOF
}

echo "== zlib"
cd "$(srcdir zlib-)"
archive z adler32.c compress.c crc32.c deflate.c gzclose.c gzlib.c gzread.c gzwrite.c infback.c inffast.c \
  inflate.c inftrees.c trees.c uncompr.c zutil.c
cp zlib.h zconf.h "$prefix/include/"
pcfile zlib "$(sed -n 's/^#define ZLIB_VERSION "\(.*\)"/\1/p' zlib.h)" "-lz"

echo "== libinih"
cd "$(srcdir libinih-)"
archive inih ini.c
cp ini.h "$prefix/include/"
pcfile inih 59 "-linih"

echo "== libpng"
cd "$(srcdir libpng1.6-)"
configure
build

echo "== FreeType"
cd "$(srcdir freetype-)"
configure --with-zlib=yes --without-png --without-bzip2 --without-brotli --without-harfbuzz
build

echo "== libogg"
cd "$(srcdir libogg-)"
configure
build

echo "== libvorbis"
cd "$(srcdir libvorbis-)"
configure --disable-oggtest --disable-docs --disable-examples
build

echo "== libmad"
cd "$(srcdir libmad-)"
sed -i 's/-fforce-mem//g' configure   # current GCC rejects this option
configure --enable-fpm=intel --disable-debugging
build

echo "== SDL 1.2"
cd "$(srcdir libsdl1.2-)"
# Console output stays on the console (no stdout.txt); no assembly blitters (needs nasm).
configure --disable-stdio-redirect --disable-nasm --disable-sdl-dlopen
build

echo "== SDL_mixer"
cd "$(srcdir sdl-mixer1.2-)"
# Without the vorbis libraries in LIBS its configure quietly drops OGG.
LIBS="-lvorbis -logg" configure --disable-sdltest --with-sdl-prefix="$prefix" \
  --enable-music-ogg --disable-music-ogg-shared --enable-music-mp3-mad-gpl --disable-music-mp3 \
  --disable-music-mod --disable-music-mod-shared --disable-music-midi --disable-music-flac \
  --disable-music-flac-shared --disable-music-fluidsynth-shared --disable-smpegtest
grep -q -- "-DOGG_MUSIC" Makefile || fail "SDL_mixer would be built without OGG"
grep -q -- "-DMP3_MAD_MUSIC" Makefile || fail "SDL_mixer would be built without MP3 (libmad)"
build

echo "== googletest"
cmake -S /usr/src/googletest -B "$work/obj/googletest" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DSTARLACE_WINDOWS_DEPS="$prefix" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON >"$work/obj/googletest.out" 2>&1 || { tail -n 40 "$work/obj/googletest.out"; fail "googletest configure"; }
cmake --build "$work/obj/googletest" -j"$jobs" --target install >>"$work/obj/googletest.out" 2>&1 ||
  { tail -n 40 "$work/obj/googletest.out"; fail "googletest build"; }

# Static links need the libraries' own dependencies on the link line. SDL's main is the
# program's own main (console program), so neither SDLmain nor -mwindows belongs here.
pcfile sdl 1.2.15 "-lSDL -luser32 -lgdi32 -lwinmm -ldxguid" "-I\${includedir}/SDL"
sed -i 's/^Libs: .*/Libs: -L${libdir} -lSDL_mixer -lvorbisfile -lvorbis -logg -lmad/' "$prefix/lib/pkgconfig/SDL_mixer.pc"
sed -i 's/^Libs: .*/& -lz/' "$prefix/lib/pkgconfig/freetype2.pc" "$prefix/lib/pkgconfig/libpng16.pc"
sed -i 's/^Libs: .*/& -lvorbis -logg/' "$prefix/lib/pkgconfig/vorbisfile.pc" "$prefix/lib/pkgconfig/vorbisenc.pc"
sed -i 's/^Libs: .*/& -logg/' "$prefix/lib/pkgconfig/vorbis.pc"
[ -f "$prefix/lib/pkgconfig/libpng.pc" ] && sed -i 's/^Libs: .*/& -lz/' "$prefix/lib/pkgconfig/libpng.pc"

echo "$recipe" >"$stamp"
echo "Windows dependencies built in $prefix"
