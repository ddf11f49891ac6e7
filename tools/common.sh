# Shared by the project's commands: installing what is missing from
# Debian's packages and configuring a build tree.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages the build, the tests, the benchmark and the Debian
# packages' build need.
PACKAGES=(
  cmake ninja-build g++ pkg-config
  libssl-dev libgtest-dev libgmock-dev
  qt6-base-dev libgl-dev xvfb xauth fonts-liberation
  clang libclang-rt-14-dev clang-format
  dos2unix time
  debhelper lintian man-db
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_dependencies() {
  local missing=()
  for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
      grep -q 'install ok installed' || missing+=("$package")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# build_preset PRESET: configures and builds one of CMakePresets.json's
# presets.
build_preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$(nproc)"
}
