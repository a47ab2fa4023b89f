#!/usr/bin/env bash
# Wall time and peak memory of rawpipe on the sample volume and on a large synthetic volume (10
# sweeps x 360 rays x 1000 bins x 8 moments, 16 bits), and the time `lz4 -1` takes to compress
# that volume's uncompressed sweep data, on this machine in this run. Each figure is the best of
# RUNS runs (default 5); peak memory is the largest seen.
#   data-access/protobuf/bench/measure.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/../../.."
build=${1:-build/default}
runs=${2:-5}
bin=$build/data-access/protobuf
for tool in /usr/bin/time lz4 "$bin/rawpipe" "$bin/rawpipe_bench_volume"; do
    command -v "$tool" >/dev/null || { echo "measure: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Best wall time (seconds) and largest peak resident size (KiB) of a command over the runs.
measure() {
    local best="" peak=0 wall rss
    for _ in $(seq "$runs"); do
        /usr/bin/time -v -o "$work/time" "$@" >/dev/null
        wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {
            n = split($2, p, ":"); s = 0; for (i = 1; i <= n; ++i) s = s * 60 + p[i]; print s }' \
            "$work/time")
        rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time")
        if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$wall
        fi
        [ "$rss" -gt "$peak" ] && peak=$rss
    done
    echo "$best $peak"
}

"$bin/rawpipe_bench_volume" "$work/large.raw" "$work/large-sweeps.bin"

declare -A wall_of
printf '%-34s %12s %10s %14s\n' "run (best of $runs)" "input bytes" "wall s" "peak RSS KiB"
report() {
    local key=$1 label=$2 input=$3 wall rss
    shift 3
    read -r wall rss < <(measure "$@")
    printf '%-34s %12d %10.3f %14d\n' "$label" "$(stat -c %s "$input")" "$wall" "$rss"
    wall_of[$key]=$wall
}
report sample "rawpipe sample-volume.raw" samples/sample-volume.raw \
    "$bin/rawpipe" -i samples/sample-volume.raw -o "$work/sample.pb"
report large "rawpipe large synthetic volume" "$work/large.raw" \
    "$bin/rawpipe" -i "$work/large.raw" -o "$work/large.pb"
report lz4 "lz4 -1 on its sweep data" "$work/large-sweeps.bin" \
    lz4 -1 -f -q "$work/large-sweeps.bin" "$work/large-sweeps.lz4"

printf 'stream %d bytes; lz4 -1 output %d bytes\n' "$(stat -c %s "$work/large.pb")" \
    "$(stat -c %s "$work/large-sweeps.lz4")"
awk -v a="${wall_of[large]}" -v b="${wall_of[lz4]}" \
    'BEGIN { printf "rawpipe / lz4 -1 wall time: %.1f\n", a / b }'
