# Shared by the project's commands: installing what is missing from
# Debian's packages and configuring a build tree.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages the build, the tests, the benchmark and the Debian
# packages' build need.
PACKAGES=(
  cmake ninja-build g++ pkg-config
  libssl-dev libgtest-dev libgmock-dev
  qt6-base-dev libgl-dev libxcb1-dev xvfb xauth fonts-liberation
  clang libclang-rt-14-dev clang-format
  dos2unix time locales
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

# install_dependencies [PACKAGE...]: installs those of the packages (by
# default PACKAGES) that are missing.
install_dependencies() {
  local wanted=("$@")
  [ ${#wanted[@]} -gt 0 ] || wanted=("${PACKAGES[@]}")
  local missing=()
  for package in "${wanted[@]}"; do
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

# Generates the locales in LOCALES that are missing.
generate_locales() {
  local name
  for name in "${LOCALES[@]}"; do
    locale -a | grep -qx "$name.utf8" ||
      as_root localedef -i "$name" -f UTF-8 "$name.UTF-8"
  done
}

# build_preset PRESET: configures and builds one of CMakePresets.json's
# presets.
build_preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$(nproc)"
}
