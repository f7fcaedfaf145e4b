#!/usr/bin/env bash
# Runs the built program on big hostile inputs and reports, for each, the
# outcome, the time and the peak memory (GNU time's %M). Too slow for the
# test suite (the inverse of 3000 variables takes about a minute); run by
# hand after `cmake --build build`. Inputs go to a temporary directory.
#   scripts/hostile.sh [PROGRAM]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-$top/build/scorix}
work=$(mktemp -d /tmp/scorix-hostile-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$top/examples/iris.fsc" .

python3 - <<'PY'
import random
random.seed(5)
open('line_of_numbers.dat', 'w').write('1 ' * 50_000_000 + '\n')
open('line_one_number.dat', 'w').write('1' * 100_000_000 + '\n')
open('line_of_letters.dat', 'w').write('x' * 100_000_000 + '\n')
open('long_std.fsc', 'w').write('[STD]\n' + '1 ' * 50_000_000 + '\n[FSC_SORTED]\n1 0\n0 1\n')
open('short_lines.dat', 'w').write('1 2 3 4\n' * 10_000_000)
n = 3000
with open('v3000.fsc', 'w') as f:
    f.write('[STD]\n' + ' '.join('%.6g' % random.uniform(0.5, 2) for _ in range(n)) + '\n')
    f.write('[MEAN]\n' + ' '.join('%.6g' % random.uniform(-1, 1) for _ in range(n)) + '\n[FSC_SORTED]\n')
    for r in range(n):
        row = ['%.4g' % random.uniform(-0.01, 0.01) for _ in range(n)]
        row[r] = '%.6g' % random.uniform(1, 2)
        f.write(' '.join(row) + '\n')
with open('v3000.dat', 'w') as f:
    for r in range(100):
        f.write(' '.join('%.6g' % random.uniform(-3, 3) for _ in range(n)) + '\n')
PY
head -c 20000000 /dev/urandom >garbage.dat

# case name, then the program's arguments
report() {
  local name=$1; shift
  local status=0
  /usr/bin/time -o time.txt -f '%e s, %M KB' "$program" -q "$@" </dev/null >out.txt 2>err.txt || status=$?
  printf '%-34s status %d, %s; %s\n' "$name" "$status" "$(cat time.txt | tail -n 1)" \
    "$( (tail -c 200 out.txt; echo; head -c 200 err.txt) | tr '\n' ' ' | tr -s ' ')"
}
report "100 MB line of numbers" -f iris.fsc line_of_numbers.dat
report "100 MB single number" -f iris.fsc line_one_number.dat
report "100 MB line without numbers" -f iris.fsc line_of_letters.dat
report "100 MB [STD] line" -f long_std.fsc
report "20 MB of binary garbage" -f iris.fsc garbage.dat
report "10 million short lines" -f iris.fsc short_lines.dat
report "3000 variables, forward" -a -f v3000.fsc v3000.dat
report "3000 variables, inverse" -i -a -f v3000.fsc v3000.sco
python3 - <<'PY'
a = [list(map(float, l.split())) for l in open('v3000.dat')]
b = [list(map(float, l.split())) for l in open('v3000.tad')]
print('3000 variables round trip: largest difference %.3g' % max(abs(x - y) for r, s in zip(a, b) for x, y in zip(r, s)))
PY

# Interrupted and failing writes: an earlier output stays as it was and no
# temporary file is left (SIGTERM in the middle of a 100 MB output; an input
# replaced by its own output on a 2 MB file system that fills, as root).
echo old >short_lines.sco
"$program" -q -f iris.fsc short_lines.dat </dev/null >/dev/null 2>&1 & pid=$!
sleep 0.3; kill -TERM $pid; status=0; wait $pid || status=$?
printf '%-34s status %d, earlier output %s, files %s\n' "SIGTERM while writing" "$status" \
  "$(cat short_lines.sco)" "$(ls -A | grep -c '^\.short_lines' || true)"
if [ "$(id -u)" -eq 0 ] && mkdir small && mount -t tmpfs -o size=2m tmpfs small 2>/dev/null; then
  python3 -c "open('small/a.sco', 'w').write('1 2 \n' * 112000)"
  printf '[STD]\n3 7 11\n[MEAN]\n0.1 0.2 0.3\n[FSC_SORTED]\n1.1 0.3 0.7\n0.2 1.3 0.9\n0.5 0.1 1.7\n' >small/c.fsc
  before=$(md5sum <small/a.sco)
  (cd small && "$program" -q -s 3 -f c.fsc a.sco </dev/null >/dev/null 2>../err.txt) && status=0 || status=$?
  printf '%-34s status %d, input kept: %s, %s\n' "in place on a full 2 MB tmpfs" "$status" \
    "$([ "$(md5sum <small/a.sco)" = "$before" ] && echo yes || echo NO)" "$(cat err.txt)"
  umount small
fi
