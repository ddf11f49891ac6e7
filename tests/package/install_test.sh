#!/usr/bin/env bash
# The Debian packages as a user meets them: built with tools/package,
# installed with apt-get, used through /usr/bin/korvik from a folder of
# its own, read with man, compared with the README's list of installed
# files, then purged without a trace under /usr.
# It installs and removes packages on this machine, so it runs as root only.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
PACKAGES=(korvik korvik-window)

if [ "$(id -u)" -ne 0 ]; then
  echo "package install test SKIPPED: installing packages needs root"
  exit 0
fi

passed=0
failed=0
# check DESCRIPTION COMMAND...: one verdict; the test goes on either way.
check() {
  local description=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok      $description"
  else
    failed=$((failed + 1))
    echo "FAILED  $description"
  fi
}

apt_get() {
  DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=900 \
    "$@" >/dev/null
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }

purge_if_installed() {
  local present=()
  for package in "${PACKAGES[@]}"; do
    if installed "$package"; then present+=("$package"); fi
  done
  if [ ${#present[@]} -gt 0 ]; then apt_get purge "${present[@]}"; fi
}

scratch=$(mktemp -d)
trap 'purge_if_installed; rm -rf "$scratch"' EXIT

"$ROOT/tools/package"
version=$(dpkg-parsechangelog -l "$ROOT/debian/changelog" -S Version)
debs=()
for package in "${PACKAGES[@]}"; do
  debs+=("$ROOT/build-deb/${package}_${version}_amd64.deb")
done

batch_needs_no_qt() { ! dpkg-deb -f "${debs[0]}" Depends | grep -qi qt; }
check "the batch program's package depends on no Qt" batch_needs_no_qt

# apt passes over a recommended package that does not exist without a word.
recommended_packages_exist() {
  local name missing=0
  for name in $(dpkg-deb -f "${debs[1]}" Recommends |
    sed "s/([^)]*)//g" | tr ",|" "  "); do
    apt-cache show --no-all-versions "$name" >/dev/null 2>&1 ||
      { echo "    no package $name"; missing=1; }
  done
  [ "$missing" -eq 0 ]
}
check "the window's package recommends packages that exist" \
  recommended_packages_exist

# An earlier install, of this build or another, would hide this one.
purge_if_installed
apt_get install "${debs[@]}"

# Sealing and verifying through the command on the PATH, from a folder that
# holds neither the program nor the data file.
mkdir "$scratch/data" "$scratch/run"
data=$scratch/data/orders.txt
# A lone CR ends a line too; the last line has no line end yet.
printf 'order;quantity\r\norder-1;400\rorder-2;1200' >"$data"
cd "$scratch/run"

log_says() { grep -qF "$1" ravlo.log; }
no_failure_marker() { [ ! -e ravlo.Out ]; }

/usr/bin/korvik -A "$data"
check "sealing succeeds" log_says "Result : Successful."
check "sealing leaves no ravlo.Out" no_failure_marker

printf 'order;quantity\r\norder-1;400\r\norder-2;1200\r\n' >"$scratch/body"
sealed_as_expected() {
  head -c -32 "$data" | cmp -s - "$scratch/body" &&
    [ "$(md5sum <"$scratch/body" | cut -c1-32)" = "$(tail -c 32 "$data")" ]
}
check "the sealed file holds CR LF lines and their MD5 digest" \
  sealed_as_expected

rm ravlo.log
/usr/bin/korvik -V "$data"
check "verification finds the digest matching" \
  log_says "Checksum Matches File Contents."
check "verification leaves no ravlo.Out" no_failure_marker
cd "$ROOT"

manual_page_shows() { man -P cat korvik 2>/dev/null | grep -q 'ravlo\.Out'; }
check "man korvik shows the manual page" manual_page_shows

# The README lists the installed files, one "package path" a line, in the
# code block after its heading "What the packages install".
readme_files() {
  awk '/^#+ What the packages install/ { section = 1; next }
       section && /^```/ { if (inside) exit; inside = 1; next }
       inside { print $1, $2 }' "$ROOT/README.md" | sort
}
installed_files() {
  for package in "${PACKAGES[@]}"; do
    dpkg -L "$package" | while read -r path; do
      [ -d "$path" ] && [ ! -L "$path" ] || echo "$package $path"
    done
  done | sort
}
lists_match() {
  diff <(readme_files) <(installed_files) >"$scratch/files.diff" || {
    sed 's/^/    /' "$scratch/files.diff"
    return 1
  }
}
check "dpkg -L lists the files the README lists" lists_match

apt_get purge "${PACKAGES[@]}"
leftovers() {
  find /usr -path /usr/local -prune -o -name '*korvik*' -print |
    sed 's/^/    left: /'
}
nothing_left() { [ -z "$(leftovers)" ] || { leftovers; return 1; }; }
check "purging the packages leaves nothing of theirs under /usr" nothing_left

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
