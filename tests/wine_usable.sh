#!/bin/sh
# Run by CTest before any test of a Windows suite: says why this host cannot
# run the suite's programs under Wine, and fails, so that the run stops at once.
# Usage: wine_usable.sh WINE BITS (the Wine that runs them; 32 or 64)
if [ "$2" = 32 ] && [ -e /lib/ld-linux.so.2 ] && ! why=$(/lib/ld-linux.so.2 --version 2>&1 >/dev/null); then
  echo "This kernel runs no 32-bit programs (/lib/ld-linux.so.2: ${why##*: }), so the 32-bit" \
    "suite cannot run here. Run the 64-bit one: ctest --preset windows-x64."
  exit 1
fi
if ! why=$("$1" --version 2>&1); then
  echo "Wine ($1) cannot run here: $why"
  exit 1
fi
