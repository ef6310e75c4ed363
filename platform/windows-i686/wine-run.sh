#!/usr/bin/env bash
# Runs a Windows program of the cross build under wine: ctest's test programs and the end-to-end
# runs of starlace.exe. Exits with the program's own status.
#
# The wine prefix is $WINEPREFIX, or build-windows/wine beside this repository's build folders. A
# missing prefix is created once (under a lock, so parallel first runs do not race) and the
# session that created it is waited out: a program that joins the session of `wineboot` gets a
# desktop without a display.
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$here/build-windows/wine}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installers: nothing here needs them, and they would be fetched on first boot.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if [ ! -f "$WINEPREFIX/.starlace-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.starlace-ready" ]; then
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-run: could not create the wine prefix $WINEPREFIX" >&2; exit 1; }
      touch "$WINEPREFIX/.starlace-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi

# STARLACE_WINE_NEW_SESSION=1: wait until the session of an earlier run has ended, so this program
# starts a session (and desktop) on its own display. For runs one after another, each on its own
# X server (the end-to-end tests).
# A session that does not end within a minute (a hung program of an earlier run) is ended by force.
if [ "${STARLACE_WINE_NEW_SESSION:-0}" = 1 ]; then
  timeout 60 wineserver -w || wineserver -k 2>/dev/null || true
fi

exec wine "$@"
