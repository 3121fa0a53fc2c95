# Shared by the run and test commands: installs missing Debian packages and
# configures and builds a CMake tree. Sourced, not run.

VELMORA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Packages needed to build and start the program.
VELMORA_BUILD_PACKAGES=(cmake g++ make qt6-base-dev libgl-dev)
# Further packages the tests use: test frameworks, an X server with a window
# manager and input driver for the real-window tests, a Wayland compositor
# with Xwayland and Qt's Wayland plugin, independent image readers, and the
# desktop entry and AppStream validators.
VELMORA_TEST_PACKAGES=(libgtest-dev libbenchmark-dev xvfb xauth xdotool openbox x11-utils
                       weston xwayland qt6-wayland
                       imagemagick python3 python3-pil desktop-file-utils appstream dpkg-dev file
                       fonts-dejavu-core locales)
# On x86-64 the digests are also checked on emulated processors without
# AVX-512 and without AVX.
if [ "$(dpkg --print-architecture)" = amd64 ]; then
  VELMORA_TEST_PACKAGES+=(qemu-user-static)
fi

# What the Windows checks need: the MinGW-w64 cross compiler with POSIX
# threads, 64-bit Wine to run what it builds, GoogleTest's sources, and the
# image readers; for the program's downloads, msitools' wixl for the
# installer and unzip to look into the zip.
VELMORA_WINDOWS_PACKAGES=(cmake make g++-mingw-w64-x86-64-posix wine wine64 libgtest-dev
                          python3 python3-pil imagemagick msitools wixl unzip)

velmora_log() { printf '==> %s\n' "$*" >&2; }

# Runs a command as root: directly when the script is root, else through sudo.
velmora_as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    env DEBIAN_FRONTEND=noninteractive "$@"
  else
    sudo env DEBIAN_FRONTEND=noninteractive "$@"
  fi
}

# Installs whichever of the given packages are missing.
velmora_install() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  velmora_log "installing ${missing[*]}"
  velmora_as_root apt-get update -q >/dev/null
  velmora_as_root apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
}

# The Debian mirror that this machine's apt sources name first (not its
# security archive), for roots made with debootstrap.
velmora_debian_mirror() {
  local uri
  uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
    sed -n -e 's/^URIs:[[:space:]]*//p' -e 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?//p' |
    tr ' ' '\n' | grep -E '^(https?|file)://' | grep -v -- '-security' | head -n 1 || true)
  echo "${uri:-http://deb.debian.org/debian}"
}

# velmora_build DIR [cmake options...]: configures DIR if needed and builds it.
velmora_build() {
  local dir=$1
  shift
  cmake -S "$VELMORA_ROOT" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
