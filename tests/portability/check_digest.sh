#!/usr/bin/env bash
# The same maps and samples, bit for bit, whatever the processor offers. The
# digest program must print the digests recorded in expected_digests.txt
# (those of the per-pixel definition where it is affordable, and the ones
# every instruction set agrees on):
#  - as the machine is, and with the C library told to act as on a processor
#    without AVX2 and FMA;
#  - on x86-64, also on emulated processors without AVX-512 (Haswell) and
#    without AVX (Nehalem), where the kernels must be chosen as those
#    processors allow;
#  - or, given an emulator, once for another kind of processor.
#
# Usage: check_digest.sh [--not-emulated REASON] DIGEST_PROGRAM [EMULATOR [ARGUMENT...]]
#   --not-emulated  leaves out the emulated x86-64 processors, saying why
set -euo pipefail
not_emulated=
if [ "${1:-}" = --not-emulated ]; then
  not_emulated=${2:?usage: check_digest.sh --not-emulated REASON DIGEST_PROGRAM}
  shift 2
fi
program=${1:?usage: check_digest.sh [--not-emulated REASON] DIGEST_PROGRAM [EMULATOR [ARGUMENT...]]}
shift
emulator=("$@")
expected="$(dirname "${BASH_SOURCE[0]}")/expected_digests.txt"
status=0

# check WHERE COMMAND...: COMMAND must print the recorded digests.
# A Windows program's lines end in CR LF; the digests are compared without the CR.
check() {
  local where=$1 output
  shift
  if ! output=$("$@" | tr -d '\r'); then
    echo "the kernels disagree ($where):"
    echo "$output"
    status=1
  elif ! diff -u "$expected" <(echo "$output"); then
    echo "the digests differ from the recorded ones ($where)"
    status=1
  else
    echo "the recorded digests ($where)"
  fi
}

if [ ${#emulator[@]} -gt 0 ]; then
  check "under ${emulator[*]}" "${emulator[@]}" "$program"
  exit $status
fi

check "as this processor is" "$program"
check "GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA" env GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA "$program"
if [ -n "$not_emulated" ]; then
  echo "not checked on emulated processors: $not_emulated"
elif [ "$(uname -m)" = x86_64 ]; then
  if ! command -v qemu-x86_64-static >/dev/null; then
    echo "qemu-x86_64-static is not installed, so processors without AVX-512 or AVX cannot be checked"
    exit 1
  fi
  # The emulator says which features of a model it leaves out (none that
  # the kernels use); that is not what this checks.
  emulated() {
    qemu-x86_64-static "$@" 2> >(grep -v "TCG doesn't support requested feature" >&2)
  }
  for cpu in Haswell:avx2 Nehalem:baseline; do
    name=${cpu%%:*}
    wanted=${cpu#*:}
    if ! chosen=$(emulated -cpu "$name" "$program" --chosen-kernels); then
      echo "the digest program failed on an emulated $name"
      status=1
      continue
    fi
    if [ "$chosen" != "$wanted" ]; then
      echo "an emulated $name got the $chosen kernels, not the $wanted ones"
      status=1
    fi
    check "an emulated $name, $chosen kernels" emulated -cpu "$name" "$program"
  done
fi
exit $status
