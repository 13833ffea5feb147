#!/bin/bash
# Completes each argument of launch as bash would on Tab, from the installed
# completion file. Usage: completion_test.sh COMPLETION_FILE
set -u
source "$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/sub"
touch "$dir/file"
passed=0 failed=0
# expect WORD-WANTED WORD-UNWANTED COMMAND-WORDS...: completing the last word
# offers the first and not the second ("" for none).
expect() {
  local want=$1 unwanted=$2
  shift 2
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  _launch
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}")
  if grep -qxF -- "$want" <<<"$got" && { [ -z "$unwanted" ] || ! grep -qxF -- "$unwanted" <<<"$got"; }; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: ${COMP_WORDS[*]} -> ${COMPREPLY[*]} (wanted $want, not $unwanted)"
  fi
}
expect bash "" launch bas                        # a command on PATH
expect "$dir/file" "" launch "$dir/fi"           # or a path
expect --version "" launch --ver
expect "$dir/sub" "$dir/file" launch x "" "$dir/" # directories only
expect TRUE "" launch x "" / T
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
