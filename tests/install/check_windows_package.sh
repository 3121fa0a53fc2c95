#!/usr/bin/env bash
# Checks the Windows downloads of a MinGW build tree whose packages are made
# (cmake --build DIR --target package velmora_msi):
#  - velmora.exe needs no DLL beyond the system's;
#  - the zip holds velmora.exe alone, the one built;
#  - the installer, in a fresh Wine prefix, puts velmora.exe into
#    Program Files\Velmora and a Start-menu entry that starts it; the
#    installed program opens both windows on a private X server and ends
#    with exit code 0 on Alt+F4; uninstalling removes both again.
#
# Usage: check_windows_package.sh WINDOWS_BUILD_DIR
set -euo pipefail

build=$(cd "${1:?usage: check_windows_package.sh WINDOWS_BUILD_DIR}" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exe=$build/ui_win32/velmora.exe
version=$(sed -n 's/^project(velmora VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
zip=$build/velmora-$version-windows-x86_64.zip
msi=$build/velmora-$version-windows-x86_64.msi

report_prefix=windows-package
source "$here/../e2e/x_session.sh"
source "$here/../e2e/wine_prefix.sh"

for file in "$exe" "$zip" "$msi"; do
  [ -f "$file" ] || fail "$file is not built"
done

# --- The program's DLLs ------------------------------------------------------------
# What every Windows 10 has in System32; MinGW's own runtime DLLs
# (libstdc++, libgcc, libwinpthread) must not be among the imports.
system_dlls="KERNEL32.dll USER32.dll GDI32.dll COMCTL32.dll msvcrt.dll ADVAPI32.dll"
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
for dll in $imports; do
  [[ " $system_dlls " == *" $dll "* ]] || fail "velmora.exe needs $dll, which is no system DLL"
done
pass "velmora.exe needs only system DLLs: $(echo $imports)"

# --- The zip -----------------------------------------------------------------------
work=$(mktemp -d)
program_pid=
trap 'wine_prefix_stop; x_session_stop; rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work/zip"
[ "$(cd "$work/zip" && find . -type f)" = ./velmora.exe ] ||
  fail "the zip holds $(cd "$work/zip" && find . -type f | tr '\n' ' '), not velmora.exe alone"
cmp -s "$work/zip/velmora.exe" "$exe" || fail "the zip's velmora.exe is not the one built"
pass "$(basename "$zip") holds velmora.exe alone"

# --- The installer, in a fresh prefix ------------------------------------------------
# The display is there from the start: Wine's processes that the installer
# starts outlive it and serve the program started next.
x_session_start "$work"
rm -rf "$build/wine-install"
wine_prefix_use "$build/wine-install"
msiexec() { "$wine64_program" msiexec "$@" >"$work/msiexec.log" 2>&1; }
msi_windows=$("$wine64_program" winepath -w "$msi" 2>/dev/null | tr -d '\r')
msiexec /i "$msi_windows" /qn || fail "msiexec /i failed: $(cat "$work/msiexec.log")"
installed="$WINEPREFIX/drive_c/Program Files/Velmora/velmora.exe"
cmp -s "$installed" "$exe" || fail "the installer put no velmora.exe, or another one, into Program Files\\Velmora"
# Where the entry goes depends on the installation's scope: Wine puts a
# per-machine entry into the user's Start menu.
entry=$(find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/Velmora.lnk' | head -n 1)
[ -n "$entry" ] || fail "the installer made no Start-menu entry"
strings -a "$entry" | grep -qxF 'C:\Program Files\Velmora\velmora.exe' ||
  fail "the Start-menu entry does not start C:\\Program Files\\Velmora\\velmora.exe"
# The working folder, where a bare file name is saved: the user's Documents.
strings -a -el "$entry" | grep -qE '^C:\\users\\[^\\]+\\Documents\\?$' ||
  fail "the Start-menu entry does not start the program in the user's Documents folder"
pass "the installer puts velmora.exe into Program Files\\Velmora and a Start-menu entry that starts it in Documents"

("$wine64_program" "$installed") >"$work/program.log" 2>&1 &
program_pid=$!
x_find_window main "$program_pid" Velmora
x_find_window picture "$program_pid" Picture
wait_until 30 "focus on the form" x_active_is "$main"
xdotool key alt+F4
x_wait_exit "$program_pid" "end of the installed program after Alt+F4"
program_pid=
[ "$exit_status" = 0 ] || fail "the installed program exited with $exit_status"
pass "the installed program opens both windows and ends with 0 on Alt+F4"

msiexec /x "$msi_windows" /qn || fail "msiexec /x failed: $(cat "$work/msiexec.log")"
[ ! -e "$installed" ] || fail "uninstalling left velmora.exe behind"
[ ! -e "$entry" ] || fail "uninstalling left the Start-menu entry behind"
pass "uninstalling removes the program and its Start-menu entry"

passed_all
