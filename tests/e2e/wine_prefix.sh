# A Wine prefix of the build tree's own for the Windows program's window
# tests. Sourced, not run.
#
#   wine_prefix_use DIR   exports WINEPREFIX=DIR and the quiet settings, and
#                         makes the prefix on first use (about 10 s), one
#                         caller at a time
#   wine_prefix_stop      ends the prefix's Wine processes (its wineserver and
#                         the services it started), which outlive the program
#                         by a few seconds
#
# No debug output; the first start's offers to install Mono and Gecko and
# the menu entries Wine would write into the home folder are turned off.

wine64_program=$(command -v wine64 || echo /usr/lib/wine/wine64)

wine_prefix_use() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEARCH=win64
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
      flock 9
      if [ ! -f "$WINEPREFIX/system.reg" ]; then
        env -u DISPLAY "$wine64_program" wineboot --init >/dev/null 2>&1
        # Its desktop process, made without a display, must end first: the
        # programs started while it lives would find no display either.
        wineserver -w
      fi
    ) 9>"$WINEPREFIX.lock"
  fi
}

wine_prefix_stop() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k >/dev/null 2>&1 || true
}
