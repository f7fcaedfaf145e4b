#!/usr/bin/env bash
# The iris example forward (a gzipped copy) and back: no leak or bad access (LeakSanitizer in
# the sanitizer build, valgrind otherwise), the measurements back to the scores' seven digits.
# usage: leak_check.sh PROGRAM EXAMPLES_DIR sanitized|plain
set -euo pipefail
program=$(realpath "$1") examples=$(realpath "$2") build=$3
cd "$(mktemp -d)" && trap 'rm -rf "$PWD"' EXIT && cp "$examples/iris.fsc" "$examples/iris.dat" .
[ "$build" = sanitized ] || command -v valgrind >/dev/null || { echo "skipped: needs valgrind"; exit 77; }
check=(valgrind -q --leak-check=full --error-exitcode=1)
[ "$build" = sanitized ] && check=(env ASAN_OPTIONS=detect_leaks=1:halt_on_error=1)
gzip -c iris.dat >iris.gz
"${check[@]}" "$program" -q -a -f iris.fsc iris.gz </dev/null >/dev/null
"${check[@]}" "$program" -q -i -a -b 1-4 -f iris.fsc iris.sco </dev/null >/dev/null
grep -v '^#' iris.dat | paste -d ' ' iris.tad - | awk '
  { for (c = 1; c <= 4; c++) { d = $c - $(c + 4); if (d * d > 2.5e-11 * $(c + 4) ^ 2) { print "line " NR ": " $0; bad = 1 } } }
  END { if (NR != 150) print NR " lines"; exit bad || NR != 150 }'
echo "forward and inverse runs without leaks, round trip to 7 digits ($build)"
