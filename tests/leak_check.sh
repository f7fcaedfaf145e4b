#!/usr/bin/env bash
# A full forward and inverse run of the iris example must end without a leak
# or a bad memory access: under LeakSanitizer when the program is built with
# the sanitizers, under valgrind otherwise.
# usage: leak_check.sh PROGRAM EXAMPLES_DIR sanitized|plain
set -euo pipefail
program=$1 examples=$2 build=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$examples/iris.fsc" "$examples/iris.dat" "$work/"
cd "$work"
if [ "$build" = sanitized ]; then
  run() { ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 "$program" "$@" </dev/null >/dev/null; }
elif command -v valgrind >/dev/null; then
  run() { valgrind -q --leak-check=full --error-exitcode=1 "$program" "$@" </dev/null >/dev/null; }
else
  echo "valgrind is missing: no leak check"; exit 0
fi
run -a -f iris.fsc iris.dat
run -i -a -b "1-4" -f iris.fsc iris.sco
[ "$(wc -l <iris.tad)" -eq 150 ] && [ "$(cut -c1-7 <iris.tad | head -n 1)" = "5.1 3.5" ] || { echo "the round trip went wrong"; exit 1; }
echo "forward and inverse runs without leaks ($build)"
