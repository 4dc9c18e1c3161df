# Shared by scripts/run and scripts/test: install what is missing, configure, build.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-svg-dev libqcustomplot-dev
  libpcre2-dev libudev-dev libmosquitto-dev libsystemd-dev qt6-tools-dev qt6-l10n-tools
  qt6-translations-l10n)
# The end-to-end session test also needs a window manager, xprop, and the
# accessibility bus with its Python client to read the window's widgets.
TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth xdotool libx11-dev python3
  openbox x11-utils dbus-daemon python3-pyatspi mosquitto mosquitto-clients python3-pyvisa
  python3-pyvisa-py)

# Installs the given Debian packages that are not installed yet.
ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >&2
}

# configure_and_build BUILD_DIR [cmake options...]
configure_and_build() {
  local dir="$1"
  shift
  if [ ! -f "$dir/build.ninja" ]; then
    # ccache, where installed, lets several checkouts share their compiled objects.
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache
      -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    cmake -S "$ROOT" -B "$dir" -G Ninja "${launcher[@]}" "$@" >&2
  fi
  # A header new to a folder (globbed) is not seen by moc in a build folder
  # made before it came: the moc steps look again each time (they rewrite
  # nothing that did not change).
  find "$dir" -path '*_autogen/timestamp' -delete
  cmake --build "$dir" --parallel "$(nproc)" >&2
}
