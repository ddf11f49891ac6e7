#!/usr/bin/env bash
# Fails on an include that points up a layer, and prints each one. From the
# bottom up: platform; digest (the library file, which may use platform
# alone); checksum; ui; app. A folder's files may include their own layer
# and those below it.
# Usage: layering.sh SOURCE_ROOT
set -euo pipefail
root=$1
declare -A rank=([platform]=0 [digest]=1 [checksum]=2 [ui]=3 [app]=4)

status=0
for layer in platform digest checksum ui app; do
  [[ -d $root/$layer ]] || continue
  while IFS= read -r found; do
    # found: FILE:LINE:#include "FOLDER/..."
    included=${found#*\"}
    folder=${included%%/*}
    if [[ -n ${rank[$folder]+set} ]] && ((rank[$folder] > rank[$layer])); then
      echo "${found#"$root/"}: $layer may not include $folder"
      status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' \
             --include='*.cc' --include='*.h' "$root/$layer" || true)
done
exit "$status"
