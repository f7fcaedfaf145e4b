#!/usr/bin/env bash
# Times the 1M x 20 job (3 scores) on its gzip copy against the plain file
# and against the decompressors alone: scorix on d1m.dat, on d1m.dat.gz
# (gzip -n) inflated by ISA-L and by zlib (a build with -DSCORIX_ISAL=OFF),
# on d1m.dat.zst, then `igzip -dc`, `libdeflate-gunzip -c` and `zstd -dc`,
# each to /dev/null, and the plain file's run with `igzip -dc` beside it in
# a process of its own: the floor of any reading of the .gz that decodes on
# one thread while the others convert. The cases take turns, run after run, so that every one
# sees the same load; the table gives the median wall seconds (from the
# shell's clock in microseconds: time's own are hundredths) and user seconds, the
# wall time over the plain file's and the peak memory. Every output of scorix is compared
# byte for byte with that of the plain file.
#
#   bench/gzip.sh [--runs N] [--before PROGRAM]
#
# --before also times another build of scorix on the .gz (an earlier version,
# say). The data are bench/run.sh's ($SCORIX_BENCH_DATA, made on first use);
# the decompressors come from Debian's isal, libdeflate-tools and zstd
# packages, and a missing one is left out.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
data=${SCORIX_BENCH_DATA:-/tmp/scorix-bench}
runs=5
before=
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift ;;
    --before) before=$(realpath "$2"); shift ;;
    *) echo "usage: $0 [--runs N] [--before PROGRAM]" >&2; exit 2 ;;
  esac
  shift
done

[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install -y time)" >&2; exit 1; }
for build in isal:ON zlib:OFF; do
  cmake -S "$top" -B "$top/build-bench-${build%:*}" -DCMAKE_BUILD_TYPE=Release -DSCORIX_TESTS=OFF \
    -DSCORIX_ISAL="${build#*:}" >/dev/null
  cmake --build "$top/build-bench-${build%:*}" -j"$(nproc)" --target scorix >/dev/null
done
[ -f "$data/d1m.dat" ] || /usr/bin/python3 "$top/bench/make_data.py" "$data" --no-10m
[ -f "$data/d1m.dat.gz" ] || gzip -n -k "$data/d1m.dat"
[ -f "$data/d1m.dat.zst" ] || zstd -q -k "$data/d1m.dat"

tool=$top/build-bench-isal/scorix
names=("scorix, plain" "scorix, .gz, ISA-L" "scorix, .gz, zlib" "scorix, .zst")
commands=("$tool -q -f c20.fsc d1m.dat" "$tool -q -f c20.fsc d1m.dat.gz"
  "$top/build-bench-zlib/scorix -q -f c20.fsc d1m.dat.gz" "$tool -q -f c20.fsc d1m.dat.zst")
if [ -n "$before" ]; then
  names+=("scorix, .gz, --before")
  commands+=("$before -q -f c20.fsc d1m.dat.gz")
fi
for tool in "igzip -dc d1m.dat.gz" "libdeflate-gunzip -c d1m.dat.gz" "zstd -dc d1m.dat.zst"; do
  command -v "${tool%% *}" >/dev/null || { echo "${tool%% *} is not installed: left out"; continue; }
  names+=("${tool% *}")
  commands+=("$tool")
done
if command -v igzip >/dev/null; then
  printf 'igzip -dc d1m.dat.gz >/dev/null &\n%s -q -f c20.fsc d1m.dat\nwait\n' "$top/build-bench-isal/scorix" >"$data/.beside.sh"
  names+=("plain, igzip -dc beside")
  commands+=("sh $data/.beside.sh")
fi

echo "$(nproc) cores, SCORIX_THREADS=${SCORIX_THREADS-}, load before: $(cut -d' ' -f1-3 /proc/loadavg)"
declare -A walls users peaks
for _ in $(seq "$runs"); do
  for i in "${!commands[@]}"; do
    # shellcheck disable=SC2086
    start=$EPOCHREALTIME
    (cd "$data" && /usr/bin/time -f '%U %M' -o "$data/.time" ${commands[$i]} </dev/null >/dev/null)
    wall=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.4f", b - a }')
    read -r user kb <"$data/.time"
    walls[$i]+="$wall " users[$i]+="$user "
    [ "$kb" -gt "${peaks[$i]:-0}" ] && peaks[$i]=$kb
    if [ "$i" -gt 0 ] && [ -f "$data/d1m.dat.sco" ]; then
      cmp -s "$data/d1m.dat.sco" "$data/d1m.sco" || echo "  ${names[$i]}: output differs from the plain file's"
      rm "$data/d1m.dat.sco"
    fi
  done
done

median() { printf '%s\n' $1 | sort -g | sed -n "$(((runs + 1) / 2))p"; }
plain=$(median "${walls[0]}")
printf '%-24s %8s %8s %8s %8s\n' case wall user "/ plain" "peak MB"
for i in "${!commands[@]}"; do
  wall=$(median "${walls[$i]}")
  printf '%-24s %7.3fs %7.2fs %8.3f %8d\n' "${names[$i]}" "$wall" "$(median "${users[$i]}")" \
    "$(awk -v a="$wall" -v b="$plain" 'BEGIN { print a / b }')" "$((peaks[$i] / 1024))"
done
rm -f "$data/.time" "$data/.beside.sh"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
