#!/usr/bin/env bash
# Sets up and builds, then runs the show on its bundled song (press Return to start it).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/setup.sh" "$here/build"
if [ -x "$here/build/show/starlace" ]; then
  cd "$here/build/show"
  exec ./starlace "$@"
else
  echo "Built; the program starlace is not part of this build yet."
fi
