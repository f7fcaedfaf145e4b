#!/usr/bin/env bash
# Times scorix on the benchmark shapes: median wall time of several runs
# (quiet mode, standard input from /dev/null), MB/s of input and peak memory,
# and the same job in numpy when numpy is installed. The 1M x 20 job also
# runs on gzip and zstd copies of its input, and with --before on another
# build of scorix (an earlier version, say) in the same run. scorix uses the
# threads SCORIX_THREADS gives (every CPU, at most 8, when it is unset).
#
#   bench/run.sh [--save-ref] [--no-numpy] [--runs N] [--before PROGRAM]
#
# Data go to $SCORIX_BENCH_DATA (default /tmp/scorix-bench), made by
# bench/make_data.py on first use. --save-ref keeps this build's outputs as
# the reference; without it every output is compared byte for byte with the
# reference when there is one.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
data=${SCORIX_BENCH_DATA:-/tmp/scorix-bench}
runs=5
save_ref=0
numpy=1
before=
while [ $# -gt 0 ]; do
  case $1 in
    --save-ref) save_ref=1 ;;
    --no-numpy) numpy=0 ;;
    --runs) runs=$2; shift ;;
    --before) before=$(realpath "$2"); shift ;;
    *) echo "usage: $0 [--save-ref] [--no-numpy] [--runs N] [--before PROGRAM]" >&2; exit 2 ;;
  esac
  shift
done

[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install -y time)" >&2; exit 1; }
cmake -S "$top" -B "$top/build-bench" -DCMAKE_BUILD_TYPE=Release -DSCORIX_TESTS=OFF >/dev/null
cmake --build "$top/build-bench" -j"$(nproc)" --target scorix >/dev/null
tool=$top/build-bench/scorix
[ -f "$data/w20k.dat" ] || /usr/bin/python3 "$top/bench/make_data.py" "$data"
[ -f "$data/d1m.dat.gz" ] || gzip -n -k "$data/d1m.dat"
[ -f "$data/d1m.dat.zst" ] || zstd -q -k "$data/d1m.dat"
/usr/bin/python3 -c 'import numpy' 2>/dev/null || numpy=0
mkdir -p "$data/ref"

. "$top/bench/common.sh"

check() {  # output file
  if [ "$save_ref" = 1 ]; then
    cp "$data/$1" "$data/ref/$1"
  elif [ -f "$data/ref/$1" ]; then
    cmp "$data/$1" "$data/ref/$1" && echo "  $1 identical to the reference"
  fi
}

case_run() {  # name input output args...
  local name=$1 input=$2 output=$3
  shift 3
  # shellcheck disable=SC2046
  set -- $(measure "$tool" -q "$@" "$input")
  report "scorix $name" "$input" "$1" "$2"
  check "$output"
}

numpy_run() {  # name input args...
  local name=$1 input=$2
  shift 2
  [ "$numpy" = 1 ] || return 0
  # shellcheck disable=SC2046
  set -- $(measure env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE /usr/bin/python3 "$top/bench/numpy_scores.py" \
    "$@" "$input" numpy.out)
  report "numpy $name" "$input" "$1" "$2"
}

same() {  # output plain_output
  cmp "$data/$1" "$data/$2" && echo "  $1 identical to $2"
}

echo "$(nproc) cores, SCORIX_THREADS=${SCORIX_THREADS-}, load before: $(cut -d' ' -f1-3 /proc/loadavg)"
[ -z "$before" ] || tool=$before case_run "1M x 20, 3 scores (--before)" d1m.dat d1m.sco -f c20.fsc
case_run "1M x 20, 3 scores" d1m.dat d1m.sco -f c20.fsc
numpy_run "1M x 20, 3 scores" d1m.dat -f c20.fsc
case_run "1M x 20, 3 scores, .gz" d1m.dat.gz d1m.dat.sco -f c20.fsc
same d1m.dat.sco d1m.sco
case_run "1M x 20, 3 scores, .zst" d1m.dat.zst d1m.dat.sco -f c20.fsc
same d1m.dat.sco d1m.sco
numpy_run "1M x 20, 3 scores, .gz" d1m.dat.gz -f c20.fsc
case_run "20k x 500 -a" w20k.dat w20k.sco -a -f c500.fsc
numpy_run "20k x 500 -a" w20k.dat -a c500.fsc
cp "$data/w20k.sco" "$data/winv.sco"
case_run "20k x 500 -i -a" winv.sco winv.tad -i -a -f c500.fsc
numpy_run "20k x 500 -i -a" winv.sco -i -a c500.fsc
runs=1 case_run "10M x 20, 3 scores (one run)" d10m.dat d10m.sco -f c20.fsc
rm -f "$data/numpy.out" "$data/d10m.sco" "$data/d1m.dat.sco"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
