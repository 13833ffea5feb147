#!/bin/sh
# The runner sits below the run flow: besides its own headers it includes only
# run_request.h, the values the two exchange. Include paths cannot enforce this
# (they work per folder, and a relative path gets through any of them), so the
# includes are read: each name that leads to a project file, from runner/,
# app/ or the top, must lead into runner/ or to app/run_request.h.
# Usage: layering_test.sh SOURCE_DIR
cd "$1" || exit 2
top=$(pwd -P)
found=0
for file in runner/*; do
  for name in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]\([^">]*\)[">].*/\1/p' "$file"); do
    for place in "runner/$name" "app/$name" "$name"; do
      [ -f "$place" ] || continue
      real=$(realpath "$place")
      case "$real" in
      "$top"/runner/* | "$top"/app/run_request.h) ;;
      *) echo "$file includes $name ($real), which is not the runner's"; found=1 ;;
      esac
      break
    done
  done
done
[ "$found" = 0 ] && echo "runner/ includes only its own headers and run_request.h"
exit "$found"
