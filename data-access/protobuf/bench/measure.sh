#!/usr/bin/env bash
# The main road against the machine, measured in one run: rawpipe on the sample volume and on a
# large weather-like synthetic volume (10 sweeps x 360 rays x 1000 bins x 8 moments, 16 bits), `lz4
# -1` compressing that volume's uncompressed sweep data, `cat` reading the volume file, and
# warnpipe on a made-up WARN product of 32767 events. Each figure is the median of RUNS runs
# (default 5); peak memory is the largest peak resident size seen.
#   data-access/protobuf/bench/measure.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/../../.."
build=${1:-build/default}
runs=${2:-5}
bin=$build/data-access/protobuf
make_warn=$build/data-access/wrdata/write-sample-warn
for tool in /usr/bin/time lz4 "$bin/rawpipe/rawpipe" "$bin/rawpipe/rawpipe_bench_volume" "$bin/warnpipe/warnpipe" \
    "$make_warn"; do
    command -v "$tool" >/dev/null || { echo "measure: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Median wall time (seconds) and largest peak resident size (KiB) of a command over the runs.
measure() {
    : >"$work/walls"
    : >"$work/peaks"
    for _ in $(seq "$runs"); do
        # GNU time gives the peak; its wall clock has only hundredths, so bash's clock times it.
        local start=$EPOCHREALTIME
        /usr/bin/time -v -o "$work/time" "$@" >/dev/null
        local end=$EPOCHREALTIME
        awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }' >>"$work/walls"
        awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time" >>"$work/peaks"
    done
    echo "$(median <"$work/walls") $(sort -n "$work/peaks" | tail -1)"
}

"$bin/rawpipe/rawpipe_bench_volume" "$work/large.raw" "$work/large-sweeps.bin"
"$make_warn" --events 32767 "$work/warn.prod"
sweep_bytes=$(stat -c %s "$work/large-sweeps.bin")

declare -A wall_of peak_of
printf '%-34s %12s %10s %14s\n' "median of $runs runs" "input bytes" "wall s" "peak RSS KiB"
report() {
    local key=$1 label=$2 input=$3 wall rss
    shift 3
    read -r wall rss < <(measure "$@")
    printf '%-34s %12d %10.3f %14d\n' "$label" "$(stat -c %s "$input")" "$wall" "$rss"
    wall_of[$key]=$wall
    peak_of[$key]=$rss
}
report sample "rawpipe sample-volume.raw" samples/sample-volume.raw \
    "$bin/rawpipe/rawpipe" -i samples/sample-volume.raw -o "$work/sample.pb"
report large "rawpipe large synthetic volume" "$work/large.raw" \
    "$bin/rawpipe/rawpipe" -i "$work/large.raw" -o "$work/large.pb"
report lz4 "lz4 -1 on its sweep data" "$work/large-sweeps.bin" \
    lz4 -1 -f -q "$work/large-sweeps.bin" "$work/large-sweeps.lz4"
report cat "cat of the large volume" "$work/large.raw" cat "$work/large.raw"
report warn "warnpipe 32767 events" "$work/warn.prod" \
    "$bin/warnpipe/warnpipe" -i "$work/warn.prod" -o "$work/warn.json"

printf 'sweep data %d bytes; stream %d bytes; lz4 -1 output %d bytes; JSON %d bytes\n' \
    "$sweep_bytes" "$(stat -c %s "$work/large.pb")" "$(stat -c %s "$work/large-sweeps.lz4")" \
    "$(stat -c %s "$work/warn.json")"
awk -v a="${wall_of[large]}" -v b="${wall_of[lz4]}" \
    'BEGIN { printf "rawpipe / lz4 -1 wall time: %.2f\n", a / b }'
awk -v peak="${peak_of[large]}" -v bytes="$sweep_bytes" \
    'BEGIN { printf "rawpipe peak memory / uncompressed sweep bytes: %.2f\n", peak * 1024 / bytes }'
awk -v bytes="$(stat -c %s "$work/warn.json")" -v wall="${wall_of[warn]}" \
    'BEGIN { printf "warnpipe JSON output: %.0f MB/s\n", bytes / 1e6 / wall }'
