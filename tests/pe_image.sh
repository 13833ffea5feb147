#!/bin/sh
# Checks the shipped image: $1 is objdump for the target, $2 launch.exe.
# Only system DLLs in its imports. A 64-bit image (PE32+) must have
# high-entropy ASLR; a 32-bit one, no SEH.
headers=$("$1" -p "$2") || exit 1
if echo "$headers" | grep -Ew 'SuspendThread|GetThreadContext|OpenProcess'; then exit 1; fi
if echo "$headers" | sed -n 's/.*DLL Name: //p' | grep -viE '^(KERNEL32|msvcrt|ADVAPI32)\.dll$'; then
  echo "$2 imports a DLL that is not a system DLL" >&2; exit 1
fi
own=NO_SEH
if echo "$headers" | grep -q '^Magic.*(PE32+)'; then own=HIGH_ENTROPY_VA; fi
for want in DYNAMIC_BASE NX_COMPAT $own 'MajorSubsystemVersion.6' 'MinorSubsystemVersion.1'; do
  echo "$headers" | grep -Eqx "[[:space:]]*$want" || { echo "$2: no $want" >&2; exit 1; }
done
