#!/bin/sh
# The exit statuses are written once, in `launch --help`; the README shows that
# block as it is. Fails when the two differ. Usage: contract_test.sh LAUNCH README
dir=$(mktemp -d) || exit 2
trap 'rm -rf "$dir"' EXIT
"$1" --help | sed -n '/^Exit status:$/,/^$/p' | sed '/^$/d' >"$dir/help"
sed -n '/^    Exit status:$/,/^$/p' "$2" | sed '/^$/d; s/^    //' >"$dir/readme"
if [ -s "$dir/help" ] && cmp -s "$dir/help" "$dir/readme"; then
  echo "README and launch --help give the same exit statuses"
  exit 0
fi
echo "README and launch --help differ on the exit statuses:"
diff "$dir/help" "$dir/readme"
exit 1
