# Shell functions of the benchmark scripts, sourced by run.sh and fit.sh;
# they read $data (the data directory) and $runs (runs per case).

# Runs "$@" in $data $runs times; prints "median_seconds peak_MB".
measure() {
  local times=() peak=0 line
  for _ in $(seq "$runs"); do
    (cd "$data" && /usr/bin/time -f '%e %M' -o "$data/.time" "$@" </dev/null >/dev/null)
    read -r line <"$data/.time"
    times+=("${line% *}")
    local kb=${line#* }
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")
  echo "$median $((peak / 1024))"
}

report() {  # name input_file median peak
  local bytes
  bytes=$(stat -c %s "$data/$2")
  awk -v n="$1" -v b="$bytes" -v s="$3" -v m="$4" \
    'BEGIN { printf "%-34s %8.2f s %8.1f MB/s %7d MB\n", n, s, (s > 0 ? b / s / 1e6 : 0), m }'
}
