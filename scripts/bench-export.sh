#!/bin/sh
# Times dispdome-export as whole processes, and its peak memory, in each of
# the build folders given (one of this checkout and one of an older one, say),
# runs alternating so load from elsewhere falls on all alike: the sample
# images to PLY and to a web page, and an 8192 x 8192 16-bit PNG as both
# images to PLY. Prints the page's size too. Medians.
#     sh scripts/bench-export.sh [runs] BUILD_FOLDER...   (default 5 runs)
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh
runs=$1
shift
require_packages $BUILD_PACKAGES $BENCH_PACKAGES imagemagick
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
folders=""
for folder in "$@"; do
    [ -x "$folder/dispdome-export" ] || { echo "no dispdome-export in $folder" >&2; exit 1; }
    folders="$folders $(cd "$folder" && pwd)"
done
cd "$work"
set -- $folders
"$1/dispdome-samples" >/dev/null
convert -size 8192x8192 gradient:black-white -depth 16 -define png:compression-level=1 big16.png

timed() {
    start=$(date +%s%N)
    /usr/bin/time -f "%M" -o time.out "$@" >/dev/null 2>&1 || echo "failed: $*" >&2
    end=$(date +%s%N)
    echo "$(( (end - start) / 1000 )) $(cat time.out)" | awk '{ printf "%.3f %d\n", $1 / 1e6, $2 / 1024 }'
}
for _ in $(seq "$runs"); do
    n=0
    for folder in $folders; do
        n=$((n + 1))
        export=$folder/dispdome-export
        echo "$n samples-ply $(timed "$export" dome.ply)"
        echo "$n samples-html $(timed "$export" dome.html) $(stat -c %s dome.html)"
        echo "$n big16-ply $(timed "$export" --displacement big16.png --color big16.png big.ply)"
    done
done >runs.txt

median() { grep "^$1 $2 " runs.txt | awk '{ print $'"$3"' }' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "| build | samples to .ply: time, peak | samples to .html: time, peak, page | 8192² 16-bit PNG as both images to .ply: time, peak |"
echo "|---|---|---|---|"
n=0
for folder in $folders; do
    n=$((n + 1))
    echo "| $folder | $(median $n samples-ply 3) s, $(median $n samples-ply 4) MB | $(median $n samples-html 3) s, $(median $n samples-html 4) MB, $(median $n samples-html 5) bytes | $(median $n big16-ply 3) s, $(median $n big16-ply 4) MB |"
done
echo
echo "Medians of $runs alternating runs (whole processes; peak resident memory by /usr/bin/time)."
