#!/usr/bin/env bash
# Installs the Windows package silently under Wine, seals and verifies a file
# with the installed program (called by name, through the PATH), uninstalls
# silently and checks that only the user's files are left.
#
#   installer_test.sh SETUP WINE_RUN PREFIX
#
# PREFIX is a Wine prefix of the test's own: the program must not be
# installed there when the test starts. A run that did not end cleanly leaves
# a mark, and the next one starts on a new prefix.
set -euo pipefail
setup=$(realpath "$1")
wine_run=$(realpath "$2")
prefix=$(realpath -m "$3")

# A short linger: wineserver -w below waits for it.
export KORVIK_WINE_LINGER=2
export WINEPREFIX=$prefix
if [ -e "$prefix.dirty" ]; then
  rm -rf "$prefix"
fi
touch "$prefix.dirty"

wine() { "$wine_run" "$prefix" "$@"; }
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
# reg_value KEY NAME: the value's data as reg.exe shows it.
reg_value() {
  wine reg query "$1" /v "$2" | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvik'
environment_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
folder="$prefix/drive_c/Program Files/Korvik"
shortcut="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Korvik Checksum Utility.lnk"
data="$prefix/drive_c/Data"

path_before=$(reg_value "$environment_key" Path)
wine "$setup" /S /PATH=1
wineserver -w

# Installed: the program, its library, the licence, the uninstaller, the
# shortcut and the entry in "Apps & features".
for file in korvik.exe korvik.DLL LICENSE.txt uninstall.exe; do
  [ -f "$folder/$file" ] || fail "$file not installed"
done
[ -f "$shortcut" ] || fail "no Start-menu shortcut"
version=$(basename "$setup" | sed 's/^korvik-\(.*\)-setup\.exe$/\1/')
[ "$(reg_value "$uninstall_key" DisplayName)" = "Korvik Checksum Utility" ] ||
  fail "DisplayName"
[ "$(reg_value "$uninstall_key" DisplayVersion)" = "$version" ] ||
  fail "DisplayVersion"
[ "$(reg_value "$uninstall_key" InstallLocation)" = 'C:\Program Files\Korvik' ] ||
  fail "InstallLocation"
quiet_uninstall=$(reg_value "$uninstall_key" QuietUninstallString)
[ "$quiet_uninstall" = '"C:\Program Files\Korvik\uninstall.exe" /S' ] ||
  fail "QuietUninstallString: $quiet_uninstall"
[ "$(reg_value "$environment_key" Path)" = "$path_before;C:\\Program Files\\Korvik" ] ||
  fail "the program folder is not on the PATH"

# The user's data file, sealed and verified in its own folder by the program
# found on the PATH.
mkdir -p "$data"
printf 'order 1\r\norder 2\r\n' >"$data/orders.txt"
cd "$data"
wine cmd.exe /c start /wait korvik.exe -A 'C:\Data\orders.txt'
[ ! -e ravlo.Out ] || fail "sealing failed: $(cat ravlo.Out)"
[ "$(head -c -32 orders.txt)" = "$(printf 'order 1\r\norder 2\r\n')" ] &&
  [ "$(tail -c 32 orders.txt)" = "$(head -c -32 orders.txt | md5sum | cut -c1-32)" ] ||
  fail "no MD5 digest appended: $(od -c orders.txt)"
wine cmd.exe /c start /wait korvik.exe -V orders.txt
[ ! -e ravlo.Out ] || fail "verifying failed: $(cat ravlo.Out)"
grep -q 'Message : Checksum Matches File Contents\.' ravlo.log ||
  fail "the sealed file does not verify"
cd - >/dev/null

# The uninstaller runs a copy of itself from the temporary folder and ends at
# once; wineserver -w waits for the copy.
wine 'C:\Program Files\Korvik\uninstall.exe' /S
wineserver -w

[ ! -e "$folder" ] || fail "program folder left: $(ls "$folder")"
[ ! -e "$shortcut" ] || fail "shortcut left"
if wine reg query "$uninstall_key" >/dev/null 2>&1; then
  fail "uninstall entry left"
fi
[ "$(reg_value "$environment_key" Path)" = "$path_before" ] ||
  fail "PATH not restored"
[ -f "$data/orders.txt" ] && [ -f "$data/ravlo.log" ] ||
  fail "the user's files are gone"

rm -rf "$data"
rm "$prefix.dirty"
echo "installed, used and uninstalled"
