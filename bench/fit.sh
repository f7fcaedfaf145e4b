#!/usr/bin/env bash
# Times scorix-fit on the benchmark shapes against numpy doing the same fit
# (numpy_fit.py: loadtxt, corrcoef, eigh): median wall time of several runs,
# MB/s of input, peak memory; then the largest relative difference between
# the eigenvalues the two found. Then the factor models (wall and CPU time),
# and R's fits of the same models when R has psych and GPArotation.
#
#   bench/fit.sh [RUNS]        (default 5 runs per case; numpy when installed)
#
# Data go to $SCORIX_BENCH_DATA (default /tmp/scorix-bench), made by
# bench/make_data.py on first use.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
data=${SCORIX_BENCH_DATA:-/tmp/scorix-bench}
runs=${1:-5}
numpy=1

[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install -y time)" >&2; exit 1; }
cmake -S "$top" -B "$top/build-bench" -DCMAKE_BUILD_TYPE=Release -DSCORIX_TESTS=OFF >/dev/null
cmake --build "$top/build-bench" -j"$(nproc)" --target scorix-fit >/dev/null
tool=$top/build-bench/scorix-fit
[ -f "$data/f20k.dat" ] || /usr/bin/python3 "$top/bench/make_data.py" "$data" --no-10m
/usr/bin/python3 -c 'import numpy' 2>/dev/null || numpy=0
. "$top/bench/common.sh"

case_run() {  # name input
  # shellcheck disable=SC2046
  set -- "$1" "$2" $(measure "$tool" -q -o fit.fsc "$2")
  report "scorix-fit $1" "$2" "$3" "$4"
  [ "$numpy" = 1 ] || return 0
  # shellcheck disable=SC2046
  set -- "$1" "$2" $(measure env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE /usr/bin/python3 \
    "$top/bench/numpy_fit.py" "$2" numpy.eig)
  report "numpy $1" "$2" "$3" "$4"
  sed -n 's/^# eigenvalue [0-9]* \([^ ]*\) .*/\1/p' "$data/fit.fsc" | paste -d ' ' - "$data/numpy.eig" |
    awk '{ d = ($1 - $2) / $2; d = d < 0 ? -d : d; if (d > m) m = d }
         END { printf "  eigenvalues agree with numpy to %.2g (largest relative difference)\n", m }'
}

median() { sort -g | sed -n "$(((runs + 1) / 2))p"; }

# The factor models: median wall and CPU (user + system) seconds.
factor_run() {  # name input options...
  local name=$1 input=$2 walls=() cpus=() wall user system
  shift 2
  for _ in $(seq "$runs"); do
    (cd "$data" && /usr/bin/time -f '%e %U %S' -o "$data/.time" "$tool" -q -o fit.fsc "$@" "$input" </dev/null >/dev/null)
    read -r wall user system <"$data/.time"
    walls+=("$wall")
    cpus+=("$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')")
  done
  printf '%-44s %8.2f s wall %8.2f s CPU\n' "scorix-fit $name" "$(printf '%s\n' "${walls[@]}" | median)" \
    "$(printf '%s\n' "${cpus[@]}" | median)"
}

echo "$(nproc) cores, load before: $(cut -d' ' -f1-3 /proc/loadavg)"
case_run "1M x 20" d1m.dat
case_run "20k x 500" w20k.dat
factor_run "1M x 20 pc" d1m.dat
factor_run "1M x 20 ml oblimin -k parallel" d1m.dat --method=ml --rotate=oblimin -k parallel
factor_run "1M x 20 pa promax -k 2" d1m.dat --method=pa --rotate=promax -k 2
factor_run "20k x 500 pc" w20k.dat
factor_run "20k x 500 pa promax -k 10" w20k.dat --method=pa --rotate=promax -k 10
factor_run "20k x 500 ml -k 10" w20k.dat --method=ml -k 10
factor_run "20k x 500, 10 factors, minres oblimin -k 10" f20k.dat --method=minres --rotate=oblimin -k 10
# The kaiser default on noise (242 of 500): every factor model is refused
# before the fit, components are fitted; exit status beside the time.
for method in pc pa ml minres wls gls; do
  start=$(date +%s.%N)
  status=0
  (cd "$data" && timeout 120 "$tool" -q -o fit.fsc --method=$method w20k.dat </dev/null >/dev/null 2>&1) || status=$?
  awk -v m="$method" -v s="$start" -v e="$(date +%s.%N)" -v x="$status" \
    'BEGIN { printf "%-44s %8.2f s wall, status %d\n", "scorix-fit 20k x 500 noise kaiser " m, e - s, x }'
done
# R's psych, GPArotation and factanal on the same data (one run each: they
# take minutes), when installed: bench/r_fit.R prints its reading apart.
if command -v Rscript >/dev/null && Rscript -e 'library(psych); library(GPArotation)' >/dev/null 2>&1; then
  echo "R (wall s, CPU s; the reading of the file apart):"
  Rscript "$top/bench/r_fit.R" "$data/d1m.dat" 2 1 pc pa ml parallel | sed 's/^/  1M x 20 /'
  Rscript "$top/bench/r_fit.R" "$data/w20k.dat" 10 1 pc pa ml | sed 's/^/  20k x 500 /'
  Rscript "$top/bench/r_fit.R" "$data/f20k.dat" 10 3 minres | sed 's/^/  20k x 500, 10 factors /'
fi
rm -f "$data/fit.fsc" "$data/numpy.eig"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
