#!/usr/bin/env bash
# Wall time and output size of raw2odim at gzip levels 0, 1 and 6 beside rawpipe, on the sample
# volume and on rawpipe's large synthetic bench volume (10 sweeps x 360 rays x 1000 bins x 8
# moments, 16 bits), on this machine in this run. Each time is the best of RUNS runs (default 5).
#   data-access/odim/bench/measure.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/../../.."
build=${1:-build/default}
runs=${2:-5}
raw2odim=$build/data-access/odim/raw2odim
rawpipe=$build/data-access/protobuf/rawpipe/rawpipe
volume_tool=$build/data-access/protobuf/rawpipe/rawpipe_bench_volume
for tool in /usr/bin/time "$raw2odim" "$rawpipe" "$volume_tool"; do
    command -v "$tool" >/dev/null || { echo "measure: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$volume_tool" "$work/large.raw" "$work/large-sweeps.bin"

# Best wall time (seconds) of a command over the runs.
best_wall() {
    local best="" wall
    for _ in $(seq "$runs"); do
        /usr/bin/time -f %e -o "$work/time" "$@" >/dev/null
        wall=$(cat "$work/time")
        if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$wall
        fi
    done
    echo "$best"
}

printf '%-14s %-18s %12s %12s %8s\n' volume "run (best of $runs)" "input bytes" "output bytes" "wall s"
for volume in samples/sample-volume.raw "$work/large.raw"; do
    label=$(basename "$volume" .raw)
    in_size=$(stat -c %s "$volume")
    wall=$(best_wall "$rawpipe" -i "$volume" -o "$work/out.pb")
    printf '%-14s %-18s %12d %12d %8.3f\n' "$label" "rawpipe (lz4)" "$in_size" \
        "$(stat -c %s "$work/out.pb")" "$wall"
    for level in 0 1 6; do
        wall=$(best_wall "$raw2odim" --compression "$level" "$volume" -o "$work/out.h5")
        printf '%-14s %-18s %12d %12d %8.3f\n' "$label" "raw2odim gzip $level" "$in_size" \
            "$(stat -c %s "$work/out.h5")" "$wall"
    done
done
