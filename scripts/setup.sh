# Sourced by scripts/run and scripts/test: installs what is missing from Debian and builds into build/.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BRISKLET_BUILD_DIR:-$ROOT/build}"

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev libsimpleini-dev qt6-serialbus-dev libqt6serialbus6-bin
  qt6-charts-dev libqt6opengl6-dev  # the plot; Qt Charts' CMake files need Qt6OpenGL's, packaged apart
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation2 xvfb xauth
  can-utils python3-can
)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
  cmake -S "$ROOT" -B "$BUILD" -G Ninja "$@" >/dev/null
  cmake --build "$BUILD" -j"$(nproc)"
}
