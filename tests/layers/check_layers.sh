#!/usr/bin/env bash
# The layers include only downward: the core (noise/, image/) and the dialog
# templates (resources/) include nothing of app/ or ui/, app/ nothing of ui/;
# none of them includes Qt; and no two files include each other.
set -euo pipefail
root=${1:?usage: check_layers.sh PROJECT_ROOT}
cd "$root"
failed=0
fail() { echo "layers: $*" >&2; failed=1; }

# The project files each file includes, as "FILE INCLUDED" lines.
includes() {
  grep -H -o -E '^#include "[^"]+"' "$@" 2>/dev/null | sed -E 's/:#include "(.*)"$/ \1/'
}

sources() { find "$@" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.inl' \) | sort; }

while read -r file included; do
  case $included in app/* | ui/* | ui_*/*) fail "$file includes $included, a layer above it" ;; esac
done < <(includes $(sources noise image resources))
while read -r file included; do
  case $included in ui/* | ui_*/*) fail "$file includes $included, a window layer" ;; esac
done < <(includes $(sources app))
toolkit=$(grep -l -E '^#include <Q[A-Za-z]+>' $(sources noise image resources app) || true)
[ -z "$toolkit" ] || fail "Qt below the window layer: $(echo $toolkit)"

# Mutual includes, among the project's own files.
pairs=$(includes $(sources $(ls -d noise image resources app ui ui_* 2>/dev/null)))
while read -r file included; do
  if grep -q -x -F "$included $file" <<<"$pairs"; then
    fail "$file and $included include each other"
  fi
done <<<"$pairs"

[ "$failed" -eq 0 ] && echo "layers: ok - every include goes downward, none both ways"
exit "$failed"
