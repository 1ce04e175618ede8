#!/bin/sh
# Times what the displaced surface's own normals cost, each against its
# reference in the same run, runs alternating so load from elsewhere falls on
# both alike: dispdome-export with the default normals against --normals
# viewer (wall time and peak memory, /usr/bin/time), and a dispdome-render
# still with --normals displaced against a default still. Prints medians.
#     sh scripts/bench-normals.sh [runs]      (default 15)
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh
runs=${1:-15}
require_packages $BUILD_PACKAGES $BENCH_PACKAGES

build_in build-bench "export_surface render_surface make_samples" -DCMAKE_BUILD_TYPE=Release -DVIEWER_TESTS=OFF \
    >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin="$PWD/build-bench"
cd "$work"
"$bin/dispdome-samples" >/dev/null

# One timed run: "<seconds> <peak KB>". The wall time is taken to the
# microsecond around the run (GNU time's %e has hundredths only, as coarse
# as a tenth of an export).
timed() {
    start=$(date +%s%N)
    /usr/bin/time -f "%M" -o time.out "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    echo "$(( (end - start) / 1000 )) $(cat time.out)" | awk '{ printf "%.3f %s\n", $1 / 1e6, $2 }'
}
for _ in $(seq "$runs"); do
    for format in ply obj glb; do
        echo "export-$format-displaced $(timed "$bin/dispdome-export" dome.$format)"
        echo "export-$format-viewer $(timed "$bin/dispdome-export" --normals viewer dome.$format)"
    done
    echo "still-default $(timed "$bin/dispdome-render" still.png)"
    echo "still-displaced $(timed "$bin/dispdome-render" --normals displaced still.png)"
done >runs.txt

median() { grep "^$1 " runs.txt | awk '{ print $'"$2"' }' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "| figure | this | reference | ratio | target |"
echo "|---|---|---|---|---|"
for format in ply obj glb; do
    t=$(median export-$format-displaced 2) r=$(median export-$format-viewer 2)
    m=$(median export-$format-displaced 3) n=$(median export-$format-viewer 3)
    echo "| export .$format, default normals: time | $t s | --normals viewer $r s | $(echo "$t $r" | awk '{ printf "%.2f x", $1 / $2 }') | <= 1.15 x |"
    echo "| export .$format, default normals: peak memory | $((m / 1024)) MB | --normals viewer $((n / 1024)) MB | $(((m - n) / 1024)) MB | <= +16 MB |"
done
t=$(median still-displaced 2) r=$(median still-default 2)
echo "| dispdome-render still, --normals displaced | $t s | default still $r s | $(echo "$t $r" | awk '{ printf "%.2f x", $1 / $2 }') | <= 1.1 x |"
echo
echo "Medians of $runs alternating runs (whole processes, /usr/bin/time)."
