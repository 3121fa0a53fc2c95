#!/usr/bin/env bash
# The saved files are the same bytes on every machine: the sample files
# (a default 512 x 512 map, a small asymmetric one and palette bitmaps) must
# have the SHA-256 digests recorded in expected_sample_files.txt, which a
# native x86-64 Linux build wrote. An emulator after the writer runs a
# writer built for another processor or system (qemu, Wine).
#
# Usage: check_sample_files.sh WRITER [EMULATOR [ARGUMENT...]]
set -euo pipefail
writer=${1:?usage: check_sample_files.sh WRITER [EMULATOR [ARGUMENT...]]}
shift
expected="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/expected_sample_files.txt"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$@" "$writer" "$work"
cd "$work"
sha256sum --check --strict "$expected"
