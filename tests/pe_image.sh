#!/bin/sh
# Checks the shipped image: $1 is objdump for the target, $2 launch.exe.
set -eu
headers=$("$1" -p "$2")
fail() {
  echo "$2: $1" >&2
  exit 1
}
for name in SuspendThread GetThreadContext OpenProcess; do
  if echo "$headers" | grep -qw "$name"; then fail "imports $name" "$2"; fi
done
for flag in DYNAMIC_BASE NX_COMPAT NO_SEH; do
  if ! echo "$headers" | grep -qw "$flag"; then fail "not marked $flag" "$2"; fi
done
if ! echo "$headers" | grep -Eq 'MajorSubsystemVersion[[:space:]]+6$' ||
  ! echo "$headers" | grep -Eq 'MinorSubsystemVersion[[:space:]]+1$'; then
  fail "console subsystem version is not 6.1 (Windows 7)" "$2"
fi
echo "image checked: $2"
