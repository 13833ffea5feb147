#!/usr/bin/env bash
# launch.exe's cost under Wine, timed from inside Wine by bench/timer-windows.c,
# which starts each command line in turn, round after round, and waits for it:
# - launch.exe's own start (`launch.exe --version`) against a static C program
#   built with launch.exe's hardening flags that writes five lines as well
#   (bench/static-windows.c); target: at most 1.2 times;
# - `launch.exe static.exe "" C:\ TRUE` against the floor for any launcher, a
#   program that only starts its command line and waits (bench/floor-windows.c),
#   with a console and without one (DETACHED_PROCESS; launch.exe then gives its
#   child a hidden console, by design).
# launch.exe is the preset's release build, stripped as the packages ship it.
# Needs the preset's cross compiler and Wine (docs/building.md).
# Usage: bench/run-windows.sh [runs] [windows|windows-x64]
# A benchmark, not a test: it always exits 0.
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${1:-100}
preset=${2:-windows}
# launch.exe's own flags (CMakeLists.txt, cmake/hardening.cmake).
flags=(-O2 -static -s -fstack-protector-strong -D_FORTIFY_SOURCE=2
  -Wl,--dynamicbase,--nxcompat,--major-subsystem-version,6,--minor-subsystem-version,1)
case $preset in
windows) target=i686-w64-mingw32 arch=win32 wine=wine flags+=(-Wl,--no-seh) ;;
# The 64-bit loader, named: Debian's `wine` picks the 32-bit one whenever wine32 is there.
windows-x64) target=x86_64-w64-mingw32 arch=win64 flags+=(-Wl,--high-entropy-va)
  wine=$(PATH=$PATH:/usr/lib/wine command -v wine64 || echo wine) ;;
*) echo "bench: no such preset: $preset"; exit 0 ;;
esac
cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" --target launch >/dev/null ||
  exit 0
out=$(mktemp -d)
export WINEPREFIX=$PWD/build/$preset/bench-wineprefix WINEARCH=$arch WINEDEBUG=-all
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$out"' EXIT
cc=$target-gcc-win32
$cc "${flags[@]}" -o "$out/static.exe" bench/static-windows.c &&
  $cc "${flags[@]}" -o "$out/floor.exe" bench/floor-windows.c &&
  $cc "${flags[@]}" -municode -o "$out/timer.exe" bench/timer-windows.c &&
  $target-strip -o "$out/launch.exe" "build/$preset/launch.exe" || exit 0
# One warm Wine server for the whole run, as the suite has.
wineserver -p >/dev/null 2>&1
"$wine" cmd /c exit >/dev/null 2>&1 </dev/null
dir=$("$wine" winepath -w "$out")
launch=$dir\\launch.exe static=$dir\\static.exe floor=$dir\\floor.exe
# Wine gives a console only to a program started from a terminal: the console
# rounds run in one (script), their figures go to a file; stderr stays on the
# terminal, which Wine needs too (console.tty).
printf '%q ' "$wine" "$dir\\timer.exe" "$runs" console "$launch --version" "$static" \
  "$launch $static \"\" C:\\ TRUE" "$floor $static" >"$out/console.sh"
script -qec "bash $out/console.sh >$out/console.txt </dev/null" /dev/null >"$out/console.tty"
mapfile -t console <"$out/console.txt"
mapfile -t detached < <("$wine" "$dir\\timer.exe" "$runs" detached "$launch $static \"\" C:\\ TRUE" \
  "$floor $static" </dev/null)
[ ${#console[@]} -eq 4 ] && [ ${#detached[@]} -eq 2 ] || { tr -d '\033' <"$out/console.tty"; exit 0; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
row() { # label, timer line of launch.exe, of the reference, target
  local a a_min b b_min
  read -r a a_min _ <<<"$2"
  read -r b b_min _ <<<"$3"
  printf '%-36s %8s us %8s us %7s %7s %7s\n' "$1" "$a" "$b" "$(ratio "$a" "$b")" \
    "$(ratio "$a_min" "$b_min")" "$4"
}
printf '%-36s %11s %11s %7s %7s %7s\n' "start to end, median" "launch.exe" "reference" "ratio" \
  "(min)" "target"
row "own start (--version) vs static C" "${console[0]}" "${console[1]}" "<= 1.2"
row "start + wait, console, vs floor" "${console[2]}" "${console[3]}" ""
row "start + wait, no console, vs floor" "${detached[0]}" "${detached[1]}" ""
printf '\n%s launch.exe, %s, %s runs each; %s, %s cores, load %s\n' "$arch" "$("$wine" --version)" \
  "$runs" "$(uname -m)" "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)"
exit 0
