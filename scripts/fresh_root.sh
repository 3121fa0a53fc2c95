#!/usr/bin/env bash
# The README's two commands on a fresh minimal Debian. Makes a root with
# debootstrap (minbase, with git and nothing else), clones this checkout into
# it with shared/ beside it, and there, as root or as a user with sudo:
#  1. runs `bash scripts/run.sh` on an X server of this machine, presses
#     Generate from the keyboard, takes a screenshot and closes the form,
#     which must end the program with exit code 0;
#  2. runs `bash scripts/test.sh`, which must pass;
#  3. runs a further command, if one is given.
# The root's mounts, and any process still running in it, are ended whatever
# happens; the root is removed unless --keep is given. Must run as root.
#
# Usage: fresh_root.sh [--user] [--keep] [--screenshot FILE] [--then COMMAND] SUITE [MIRROR]
#   SUITE         bookworm (Debian 12) or trixie (Debian 13)
#   MIRROR        a Debian mirror; by default the one this machine's apt sources name
#   --user        as a user with sudo instead of root
#   --screenshot  where to store the screenshot (by default it is discarded)
#   --then        a command to run in the clone after the test command
#   --keep        leave the root in place and print its path
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

keep=false
as_user=false
screenshot=
then_command=
while [ $# -gt 0 ]; do
  case $1 in
    --keep) keep=true ;;
    --user) as_user=true ;;
    --screenshot) screenshot=$(realpath -m "$2"); shift ;;
    --then) then_command=$2; shift ;;
    *) break ;;
  esac
  shift
done
suite=${1:?usage: fresh_root.sh [--user] [--keep] [--screenshot FILE] [--then COMMAND] SUITE [MIRROR]}
mirror=${2:-$(velmora_debian_mirror)}
if [ "$(id -u)" -ne 0 ]; then
  velmora_log "fresh_root.sh makes a root with debootstrap and must run as root"
  exit 2
fi
velmora_install debootstrap xvfb xauth openbox xdotool x11-utils imagemagick

report_prefix=$suite
source "$VELMORA_ROOT/tests/e2e/x_session.sh"

work=$(mktemp -d)
root=$(mktemp -d "${TMPDIR:-/var/tmp}/velmora-$suite.XXXXXX")
chmod 755 "$root"  # a root's / must be open to its users, apt's own among them
mounted=()
run_pid=
cleanup() {
  local status=$? i process
  # Whatever still runs in the root (the program, a test's server) holds its
  # mounts: these processes were all started here.
  for process in /proc/[0-9]*; do
    if [ "$(readlink "$process/root" 2>/dev/null)" = "$root" ]; then
      kill -9 "${process#/proc/}" 2>/dev/null || true
    fi
  done
  [ -n "$run_pid" ] && wait "$run_pid" 2>/dev/null
  x_session_stop
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null || true
  done
  if $keep; then
    velmora_log "the root is kept in $root"
  elif [ ${#mounted[@]} -eq 0 ] || ! grep -q " $root/" /proc/mounts; then
    rm -rf --one-file-system "$root"
  else
    velmora_log "$root still has mounts and is left in place"
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

velmora_log "$suite: debootstrap from $mirror"
debootstrap --variant=minbase --include=git "$suite" "$root" "$mirror" >"$work/debootstrap.log" 2>&1 || {
  tail -n 20 "$work/debootstrap.log" >&2
  fail "debootstrap failed"
}

# What a running system gives a root: processes, devices, terminals, shared memory.
mount_in() {
  mount "$@"
  mounted+=("${!#}")
}
mount_in -t proc proc "$root/proc"
mount_in --bind /sys "$root/sys"
mount_in --bind /dev "$root/dev"
mount_in -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
mount_in -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
cp /etc/resolv.conf "$root/etc/resolv.conf"

user=root
home=/root
if $as_user; then
  user=builder
  home=/home/builder
  chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends sudo >/dev/null
  chroot "$root" useradd --create-home --shell /bin/bash "$user"
  echo "$user ALL=(ALL:ALL) NOPASSWD: ALL" >"$root/etc/sudoers.d/$user"
fi
# A clean clone, with the documents it was made from beside it.
git clone -q "$VELMORA_ROOT" "$root$home/work/main"
if [ -d "$VELMORA_ROOT/../shared" ]; then
  cp -r "$VELMORA_ROOT/../shared" "$root$home/work/shared"
fi
chroot "$root" chown -R "$user:" "$home/work"

# in_root COMMAND: runs COMMAND in the clone as the user, with a login's
# environment and nothing of this one's but CI and DISPLAY.
in_root() {
  chroot "$root" /usr/sbin/runuser -u "$user" -- env -i HOME="$home" USER="$user" LOGNAME="$user" \
    LANG=C.UTF-8 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin CI="${CI:-}" \
    ${DISPLAY:+DISPLAY=$DISPLAY} bash -c "cd '$home/work/main' && $1"
}

# --- The run command, on an X server of this machine --------------------------
# The root shares this machine's network namespace, and with it the X
# server's abstract socket.
x_session_start "$work"
velmora_log "$suite: bash scripts/run.sh as $user"
run_start=$SECONDS
in_root "bash scripts/run.sh" >"$work/program.log" 2>&1 &
run_pid=$!
main=
until [ -n "$main" ]; do
  kill -0 "$run_pid" 2>/dev/null || { tail -n 30 "$work/program.log" >&2; fail "scripts/run.sh ended before the form opened"; }
  [ "$SECONDS" -lt 1800 ] || fail "no window \"Velmora\" after 30 minutes"
  main=$(xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null | head -n 1 || true)
  sleep 1
done
x_find_window picture "$run_pid" Picture
pass "scripts/run.sh installs what it needs, builds the program and opens both windows in $((SECONDS - run_start))s"
# The focus starts in Octaves; Generate is the sixth control in tab order,
# and Enter presses the button that has the focus.
xdotool windowactivate --sync "$main"
wait_until 10 "focus on the form" x_active_is "$main"
xdotool key --clearmodifiers Tab Tab Tab Tab Tab Return
wait_until 60 "512x512 map in the picture window" x_client_size_is "$picture" 512 512
sleep 1  # the map is drawn by Generate itself; this lets the form repaint too
if [ -n "$screenshot" ]; then
  mkdir -p "$(dirname "$screenshot")"
  import -window root "$screenshot"
  pass "Generate shows the map; screenshot in $screenshot"
else
  pass "Generate shows the map"
fi
xdotool windowactivate --sync "$main"
wait_until 10 "focus on the form" x_active_is "$main"
xdotool key --clearmodifiers alt+F4
x_wait_exit "$run_pid" "end of the program after Alt+F4"
run_pid=
[ "$exit_status" = 0 ] || fail "the program exited with $exit_status"
pass "Alt+F4 on the form ends the program with exit code 0"
x_session_stop
unset DISPLAY

# --- The test command ---------------------------------------------------------
# took START: the time since START, in minutes and seconds.
took() {
  printf '%dm%02ds' $(((SECONDS - $1) / 60)) $(((SECONDS - $1) % 60))
}
velmora_log "$suite: bash scripts/test.sh as $user"
start=$SECONDS
status=0
in_root "bash scripts/test.sh" || status=$?
[ "$status" = 0 ] || fail "scripts/test.sh failed with exit code $status after $(took "$start")"
pass "scripts/test.sh passes with exit code 0 in $(took "$start")"
if [ -n "$then_command" ]; then
  velmora_log "$suite: $then_command as $user"
  start=$SECONDS
  in_root "$then_command" || fail "$then_command failed after $(took "$start")"
  pass "$then_command passes in $(took "$start")"
fi
passed_all
