#!/bin/sh
# The build asks nothing of the system: configured from empty, it plans the
# web page's module only where em++ and the module's libraries (made by
# scripts/build-wasm-libs.sh, never by the build) are there; else it plans
# everything else and says in one line what to run. No rule of the build
# runs that script, and nothing lands in the libraries' folder.
# Configure only, a second each:
#     sh configure_test.sh SOURCE_DIR SCRATCH_DIR [BUILT_LIBRARIES]
# BUILT_LIBRARIES, a folder where the script has made them, adds the case
# where the module is planned.
set -eu
source=$(realpath "$1") scratch=$(realpath -m "$2") built=${3:+$(realpath "$3")}
rm -rf "$scratch"
mkdir -p "$scratch/no-libraries"
failures=0
fail() {
    echo "$case: $1" >&2
    failures=$((failures + 1))
}

# Configures the case NAME with the options given; its output in
# SCRATCH/NAME.out.
configure() {
    case=$1
    shift
    cmake -S "$source" -B "$scratch/$case" -DVIEWER_TESTS=OFF -DVIEWER_MAN_PAGES=OFF "$@" \
        >"$scratch/$case.out" 2>&1
}

# What a configured case plans: the module or not, and no rule that fetches.
module_planned() { grep -qx "WEB_MODULE_BUILT:INTERNAL=ON" "$scratch/$case/CMakeCache.txt"; }
no_fetching_rule() {
    if grep -rl --include=build.make "build-wasm-libs" "$scratch/$case" >"$scratch/$case.rules"; then
        fail "a build rule runs the step that fetches and builds the module's libraries: $(cat "$scratch/$case.rules")"
    fi
}
# The one line that says why the module is left out, and what to run.
says_how() {
    lines=$(grep -c "module is left out, as $1: for it, run sh $source/scripts/build-wasm-libs.sh" \
        "$scratch/$case.out" || true)
    [ "$lines" = 1 ] || fail "not one line saying the module is left out as $1 (got $lines)"
}

# em++ is there (the test command installs it), the libraries are not.
if ! command -v em++ >/dev/null; then
    echo "no em++ here: the case with em++ and no libraries is left out"
elif configure em-without-libraries -DVIEWER_WEB_MODULE=AUTO -DVIEWER_WASM_LIBS="$scratch/no-libraries"; then
    module_planned && fail "AUTO plans the module with no libraries"
    no_fetching_rule
    says_how "its libraries are not in $scratch/no-libraries"
    [ -z "$(ls -A "$scratch/no-libraries")" ] || fail "something was put in the libraries' folder"
else
    fail "configure failed: $(cat "$scratch/$case.out")"
fi

# No em++: none where programs are looked for, the tools CMake needs named.
if configure no-em -DVIEWER_WEB_MODULE=AUTO "-DCMAKE_IGNORE_PATH=/usr/bin;/bin" \
    -DCMAKE_CXX_COMPILER="$(command -v c++)" -DCMAKE_MAKE_PROGRAM="$(command -v make)" \
    -DPKG_CONFIG_EXECUTABLE="$(command -v pkg-config)"; then
    module_planned && fail "AUTO plans the module with no em++"
    no_fetching_rule
    says_how "there is no em++"
else
    fail "configure failed: $(cat "$scratch/$case.out")"
fi

# Asked for (ON) with no libraries, the configure stops and says what to run.
if configure on-without-libraries -DVIEWER_WEB_MODULE=ON -DVIEWER_WASM_LIBS="$scratch/no-libraries"; then
    fail "configured with the module ON and no libraries"
elif ! grep -q "VIEWER_WEB_MODULE is ON, but its libraries are not in" "$scratch/$case.out"; then
    fail "no line saying what to run: $(cat "$scratch/$case.out")"
fi

# With the libraries made, AUTO plans the module, and still no rule fetches.
if [ -n "$built" ]; then
    if configure with-libraries -DVIEWER_WEB_MODULE=AUTO -DVIEWER_WASM_LIBS="$built"; then
        module_planned || fail "AUTO leaves the module out with em++ and the libraries there"
        no_fetching_rule
        ! grep -q "left out" "$scratch/$case.out" || fail "says the module is left out"
    else
        fail "configure failed: $(cat "$scratch/$case.out")"
    fi
else
    echo "no built libraries given: the case with them is left out"
fi

[ "$failures" = 0 ] && rm -rf "$scratch"
exit "$failures"
