#!/usr/bin/env bash
# Fails on an include that points up a layer, and prints each one. From the
# bottom up: platform; digest (the library file, which may use platform
# alone); checksum; ui; app. A folder's files may include their own layer
# and those below it.
# Usage: layering.sh SOURCE_ROOT
set -euo pipefail
root=$1
layers=(platform digest checksum ui app)

# Prints the position of layer $1 from the bottom, or nothing for a folder
# that is no layer.
rank() {
  local i
  for i in "${!layers[@]}"; do
    [[ ${layers[$i]} == "$1" ]] && echo "$i"
  done
  return 0
}

status=0
for layer in "${layers[@]}"; do
  [[ -d $root/$layer ]] || continue
  own=$(rank "$layer")
  while IFS= read -r found; do
    # found: FILE:LINE:#include "FOLDER/..."
    included=${found#*\"}
    target=$(rank "${included%%/*}")
    if [[ -n $target && $target -gt $own ]]; then
      echo "${found#"$root/"}: $layer may not include ${included%%/*}"
      status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' \
             --include='*.cc' --include='*.h' "$root/$layer" || true)
done
exit "$status"
