#!/usr/bin/env bash
# Installs the Debian packages named on the command line, only those missing. An ":i386" name adds
# the i386 architecture first when the system lacks it.
# Usage: scripts/install-packages.sh package...
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ "${#missing[@]}" -eq 0 ] && exit 0

sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo_cmd dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
# Another apt run (an unattended upgrade, a parallel set-up) may hold the locks for a while. The
# install lock is waited for by apt itself; the package lists' lock is not, so the update is tried
# again until it gets through (a new architecture has no lists until then).
for attempt in $(seq 90); do
  $sudo_cmd apt-get -o DPkg::Lock::Timeout=900 update -qq && break
  [ "$attempt" = 90 ] && echo "install-packages: apt-get update kept failing; trying the install anyway" >&2
  sleep 10
done
$sudo_cmd apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"
