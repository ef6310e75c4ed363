#!/usr/bin/env bash
# Tells whether this machine runs 32-bit x86 (i386) Linux programs: builds a tiny one and runs it.
# Some kernels run none (IA-32 emulation switched off); their test stages run the 32-bit programs
# under qemu-i386 or not at all. STARLACE_EMULATE_I386=1 answers "no" on purpose, so that path can
# be tried on any machine.
# Prints one line saying what it found; exit status 0 when 32-bit programs run natively, 1 when not.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
if [ "${STARLACE_EMULATE_I386:-0}" = 1 ]; then
  echo "32-bit x86 programs: taken as not runnable here (STARLACE_EMULATE_I386=1)"
  exit 1
fi
"$here/scripts/install-packages.sh" gcc-multilib
probe="$(mktemp -d)"
trap 'rm -rf "$probe"' EXIT
printf 'int main(void) { return sizeof(void *) == 4 ? 42 : 1; }\n' >"$probe/probe.c"
gcc -m32 -o "$probe/probe" "$probe/probe.c"
status=0
"$probe/probe" 2>"$probe/err" || status=$?
if [ "$status" = 42 ]; then
  # A binfmt_misc handler (qemu-user-binfmt) runs them too, but wine does not work through it.
  if grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
    echo "32-bit x86 programs: this machine runs them only through qemu's binfmt_misc handler"
    exit 1
  fi
  echo "32-bit x86 programs: this machine runs them natively"
  exit 0
fi
echo "32-bit x86 programs: this machine's kernel runs none ($(tr -d '\n' <"$probe/err" | sed 's/.*: //') status $status)"
exit 1
