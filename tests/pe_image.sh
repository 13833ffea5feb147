#!/bin/sh
# Checks the shipped image: $1 is objdump for the target, $2 launch.exe.
headers=$("$1" -p "$2") || exit 1
if echo "$headers" | grep -Ew 'SuspendThread|GetThreadContext|OpenProcess'; then exit 1; fi
for want in DYNAMIC_BASE NX_COMPAT NO_SEH 'MajorSubsystemVersion.6' 'MinorSubsystemVersion.1'; do
  echo "$headers" | grep -Eqx "[[:space:]]*$want" || { echo "$2: no $want" >&2; exit 1; }
done
