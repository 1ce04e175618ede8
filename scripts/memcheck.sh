#!/bin/sh
# Runs the viewer under Valgrind's memcheck with the sample images, under
# Xvfb: waits for its first frame, drags twice with the left button and
# waits each time for the frame that shows the new view, then stops it and
# prints memcheck's error summary. Fails on any error outside the system
# libraries' own, suppressed in tests/valgrind.supp. About a minute. The
# programs are those built in FOLDER when one is given (the test script's
# build/), else built here in build-memcheck/.
#     sh scripts/memcheck.sh [FOLDER]
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh
require_packages $BUILD_PACKAGES $DISPLAY_PACKAGES $MEMCHECK_PACKAGES

built=${1:-build-memcheck}
[ $# -gt 0 ] ||
    build_in build-memcheck "viewer make_samples" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIEWER_TESTS=OFF >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
./$built/dispdome-samples "$work/texture" >/dev/null
log="$PWD/$built/memcheck.log"
viewer="$PWD/$built/dispdome-viewer"
supp="$PWD/tests/valgrind.supp"

(cd "$work" && under_xvfb sh -c '
    valgrind --tool=memcheck --leak-check=no --num-callers=30 --suppressions="$3" \
        --log-file="$2" "$1" >stdout 2>stderr &
    pid=$!
    # The window at 250, 250: its top row turns white with the first frame.
    window() { xwd -root -silent | convert xwd:- -crop "$1" +repage -format "%#" info:; }
    whiteTop() { xwd -root -silent | convert xwd:- -crop 16x1+250+250 +repage txt:- | grep -c "#FFFFFF"; }
    waitFor() {  # a condition, checked every second for up to 10 minutes
        n=0
        until eval "$1"; do
            n=$((n + 1))
            [ $n -lt 600 ] || { echo "memcheck: gave up waiting" >&2; kill -TERM $pid; wait $pid; exit 1; }
            sleep 1
        done
    }
    waitFor "[ \$(whiteTop) -eq 16 ]"
    echo "memcheck: first frame drawn"
    for drag in 1 2; do
        before=$(window 700x700+250+250)
        xdotool mousemove 600 500 mousedown 1 mousemove 600 520 mousemove 600 540 mouseup 1
        waitFor "[ \"\$(window 700x700+250+250)\" != \"$before\" ]"
        echo "memcheck: frame after drag $drag drawn"
    done
    kill -TERM $pid
    wait $pid || true
' sh "$viewer" "$log" "$supp")

grep -E "ERROR SUMMARY|Invalid|uninitialised" "$log" | sed 's/^==[0-9]*== //' | sort | uniq -c
summary=$(grep "ERROR SUMMARY" "$log" | tail -n 1)
case "$summary" in
*"ERROR SUMMARY: 0 errors"*) echo "memcheck passed; full log in $log" ;;
*) echo "memcheck FAILED; full log in $log" >&2; exit 1 ;;
esac
