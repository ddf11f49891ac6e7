# Shared by the project's commands: installing what is missing from
# Debian's packages and configuring a build tree.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages the program, its digest library and its window need to
# build (the preset "release"): OpenSSL's static libcrypto, and Qt 6 with the
# OpenGL headers its CMake files ask for and libxcb found by pkg-config.
BUILD_PACKAGES=(
  cmake ninja-build g++ pkg-config
  libssl-dev qt6-base-dev libgl-dev libxcb1-dev
)

# Debian packages the build, the tests, the benchmark and the Debian
# packages' build need.
PACKAGES=(
  "${BUILD_PACKAGES[@]}"
  libgtest-dev libgmock-dev
  xvfb xauth fonts-liberation
  clang libclang-rt-14-dev clang-format
  dos2unix time hyperfine python3 locales valgrind
  debhelper lintian man-db
)

# Locales the end-to-end tests run the program under (UTF-8 each).
LOCALES=(de_DE fi_FI hu_HU en_US ja_JP)

# Debian packages the Windows build and its tests need: the mingw-w64 cross
# compilers, 64-bit Wine to run the tests, GoogleTest's sources to build it
# for Windows, NSIS and zip for the installer and the portable zip, icoutils
# for the program's icon, Wine's own fonts for the window, and an X server
# with a window manager, a keyboard driver and a screen grabber for the
# window's tests and its screenshot.
WINDOWS_PACKAGES=(
  g++-mingw-w64-x86-64-posix mingw-w64
  wine wine64 fonts-wine
  googletest
  nsis zip
  icoutils
  xvfb openbox xdotool imagemagick
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# quietly LOG COMMAND...: runs COMMAND with its output in LOG, and shows the
# end of LOG when it fails.
quietly() {
  local log=$1
  shift
  mkdir -p "$(dirname "$log")"
  if ! "$@" >"$log" 2>&1; then
    echo "that failed; the end of $log:" >&2
    tail -n 40 "$log" >&2
    return 1
  fi
}

# install_dependencies [--log LOG] [PACKAGE...]: installs those of the
# packages (by default PACKAGES) that are missing. With --log, the package
# manager's output goes to LOG and is shown only when the install fails.
install_dependencies() {
  local log=
  if [ "${1-}" = --log ]; then
    log=$2
    shift 2
  fi
  local wanted=("$@")
  [ ${#wanted[@]} -gt 0 ] || wanted=("${PACKAGES[@]}")
  local missing=()
  for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
      grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  if [ -z "$log" ]; then
    echo "Installing: ${missing[*]}"
    apt_install "${missing[@]}"
  else
    echo "Installing ${missing[*]} (log: $log)"
    quietly "$log" apt_install "${missing[@]}"
  fi
}

apt_install() {
  as_root apt-get update -qq &&
    as_root env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -qq --no-install-recommends "$@"
}

# Generates the locales in LOCALES that are missing.
generate_locales() {
  local name
  for name in "${LOCALES[@]}"; do
    locale -a | grep -qx "$name.utf8" ||
      as_root localedef -i "$name" -f UTF-8 "$name.UTF-8"
  done
}

# build_preset PRESET [TARGET...]: configures one of CMakePresets.json's
# presets and builds it, all of it or only the targets named.
build_preset() {
  local preset=$1
  shift
  local targets=()
  [ $# -eq 0 ] || targets=(--target "$@")
  cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}"
}
