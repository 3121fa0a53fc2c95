#!/usr/bin/env bash
# The same maps and samples, bit for bit, whatever the processor offers: the
# digest program runs once as the machine is and once with the C library
# told to act as on a processor without AVX2 and FMA, and both must print the
# digests recorded in expected_digests.txt (those of the per-pixel definition
# where it is affordable, and the ones every instruction set agrees on).
#
# Usage: check_digest.sh DIGEST_PROGRAM
set -euo pipefail
program=${1:?usage: check_digest.sh DIGEST_PROGRAM}
expected="$(dirname "${BASH_SOURCE[0]}")/expected_digests.txt"
status=0
for tunables in "" "glibc.cpu.hwcaps=-AVX2,-FMA"; do
  if ! output=$(GLIBC_TUNABLES=$tunables "$program"); then
    echo "the kernels disagree (GLIBC_TUNABLES=$tunables):"
    echo "$output"
    status=1
  elif ! diff -u "$expected" <(echo "$output"); then
    echo "the digests differ from the recorded ones (GLIBC_TUNABLES=$tunables)"
    status=1
  fi
done
exit $status
