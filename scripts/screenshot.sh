#!/usr/bin/env bash
# Runs the built show headless under Xvfb, starts it with Return, and saves a screenshot of the
# running show (default: docs/screenshot.png). Needs a build (scripts/setup.sh) first.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$here/docs/screenshot.png}"
seconds="${2:-22}"
build="${STARLACE_BUILD:-$here/build}"

work="$(mktemp -d)"
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp "$build/show/starlace" "$work/"
cp -r "$build/show/data" "$work/"

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n 1 "$work/display")"

(cd "$work" && SDL_AUDIODRIVER=dummy ./starlace >/dev/null 2>&1) &
app=$!
for _ in $(seq 100); do grep -q "V0.9.0 initialized." "$work/log.txt" 2>/dev/null && break; sleep 0.2; done
window="$(xdotool search --name '^Quorl Sparkade$' | tail -n 1)"
xdotool mousemove --window "$window" 100 100 key Return 2>/dev/null
sleep "$seconds"
mkdir -p "$(dirname "$out")"
xwd -id "$window" -silent | convert xwd:- "$out"
xdotool mousemove --window "$window" 100 100 key Escape 2>/dev/null || true
wait "$app" || true
app=""
echo "Saved $out"
