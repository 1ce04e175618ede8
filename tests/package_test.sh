#!/bin/sh
# The Debian package as a user meets it, with nothing installed into the
# system: lintian finds no error; unpacked into a temporary folder, every
# program is there, answers --version with the package's version and --help
# with its usage, has a man page that man renders, and runs from PATH (the
# samples, a still and an export in a temporary folder, the page of the
# samples the package holds written again by its export, the viewer's window
# under Xvfb); and every library ldd says a program loads comes from a
# package the package brings: one it depends on by name when the program
# links the library itself, else one those depend on, down the chain.
#     sh tests/package_test.sh PACKAGE.deb
# The last line is "package check: PASS" or "package check: FAIL".
set -u
. "$(dirname "$0")/../scripts/lib.sh"
deb=$(realpath "$1")
programs="dispdome-viewer dispdome-export dispdome-render dispdome-samples"
failures=0
fail() {
    echo "package check: $*" >&2
    failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
bin=$root/usr/bin
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb cannot unpack $deb"
version=$(dpkg-deb -f "$deb" Version)

# Every program runs in this empty folder, where nothing may appear unasked.
mkdir "$work/run"
cd "$work/run" || exit 1

lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>/dev/null
grep '^E:' "$work/lintian" >&2 && fail "lintian reports errors"

for p in $programs; do
    [ -x "$bin/$p" ] || { fail "$p is not in the package"; continue; }
    # No display: the viewer answers these two before GLUT looks for one.
    answer=$(env -u DISPLAY "$bin/$p" --version)
    [ "$answer" = "$p $version" ] || fail "$p --version says '$answer', the package is $version"
    env -u DISPLAY "$bin/$p" --help | head -n 1 | grep -q "^Usage: $p " || fail "$p --help shows no usage line"
    page=$root/usr/share/man/man1/$p.1.gz
    [ -f "$page" ] || { fail "no man page for $p"; continue; }
    MANWIDTH=80 man -l "$page" 2>&1 | grep -q "^NAME" || fail "man cannot render the page of $p"
    # Its synopsis is the whole usage, wrapped lines and all.
    usage=$(env -u DISPLAY "$bin/$p" --help | sed -n '1,/^$/s/^\(Usage:\)\{0,1\} *//p' | tr -s ' \n' '  ')
    synopsis=$(MANWIDTH=200 man -l "$page" 2>/dev/null | sed -n '/^SYNOPSIS/,/^[A-Z]/s/^ *//p' | tr -s ' \n' '  ')
    case "$synopsis" in
    *"$usage"*) ;;
    *) fail "the man page of $p shows the usage as '$synopsis', not '$usage'" ;;
    esac
done

# The installed README's links (its pictures, the performance notes) reach
# files installed beside it.
doc=$root/usr/share/doc/dispdome
[ -f "$doc/README.md" ] || fail "no README in $doc"
for link in $(grep -o '](\([^):#]*\))' "$doc/README.md" 2>/dev/null | sed 's/^](//; s/)$//' | sort -u); do
    [ -f "$doc/$link" ] || fail "the installed README links to $link, which is not installed beside it"
done

# Run as installed: by name from PATH.
export PATH="$bin:$PATH"
dispdome-samples --help >/dev/null
dispdome-samples --bogus >/dev/null 2>"$work/errors"
[ $? -eq 2 ] && [ "$(cat "$work/errors")" = "dispdome-samples: unknown option --bogus (see --help)" ] ||
    fail "dispdome-samples takes --bogus: $(cat "$work/errors")"
[ -z "$(ls -A)" ] || fail "dispdome-samples --help or --bogus wrote $(ls -A)"
{ dispdome-samples && dispdome-render still.png && dispdome-export dome.ply; } >/dev/null 2>"$work/errors" ||
    fail "the samples, a still and an export fail: $(cat "$work/errors")"
[ "$(identify -format %wx%h still.png 2>/dev/null)" = 700x700 ] || fail "the still is not a 700 x 700 picture"
[ "$(head -c 3 dome.ply 2>/dev/null)" = ply ] || fail "the export wrote no PLY"
# The page a user starts from is the sample images' page, as the export
# writes it.
dispdome-export dome.html >/dev/null 2>>"$work/errors" &&
    cmp -s dome.html "$root/usr/share/dispdome/dispdome.html" ||
    fail "/usr/share/dispdome/dispdome.html is not the samples' page: $(cat "$work/errors")"
# The viewer (the first program) titles its window by the name it was
# started as.
under_xvfb sh -c '
    "$1" >viewer.out 2>&1 &
    for second in $(seq 30); do
        xdotool search --name "^$1\$" >/dev/null && break
        sleep 1
    done
    kill -0 $! && xdotool search --name "^$1\$" >/dev/null && status=0 || status=1
    kill $!
    exit $status' sh "${programs%% *}" || fail "the viewer opens no window: $(cat viewer.out)"

# Libraries: ldd's path to the file, dpkg -S's package; a path under /lib may
# be registered under /usr/lib (merged /usr) or the other way round.
owner() {
    for path in "$1" "$(realpath "$1")"; do
        for candidate in "$path" "/usr$path" "${path#/usr}"; do
            dpkg -S "$candidate" 2>/dev/null | sed -n '1s/^\([^:]*\)[:,].*/\1/p' | grep . && return
        done
    done
}
names() { tr ',|' '\n\n' | sed 's/(.*)//; s/:any//; s/ //g' | grep .; }
depends=$(dpkg-deb -f "$deb" Depends | names)
# All a package brings with it: its Depends and Pre-Depends, down the chain,
# a virtual package by whatever provides it, and every Essential package.
dpkg-query -W -f='${Package} ${Provides}\n' | sed 's/([^)]*)//g; s/,//g' >"$work/provides"
brought=" $(dpkg-query -W -f='${Package} ${Essential}\n' | awk '$2 == "yes" { printf "%s ", $1 }')"
queue=$depends
while [ -n "$queue" ]; do
    set -- $queue
    p=$1
    shift
    queue="$*"
    case "$brought" in *" $p "*) continue ;; esac
    brought="$brought$p "
    queue="$queue $(dpkg-query -W -f='${Depends}, ${Pre-Depends}\n' "$p" 2>/dev/null | names)"
    queue="$queue $(awk -v p="$p" '{ for (i = 2; i <= NF; ++i) if ($i == p) print $1 }' "$work/provides")"
done
for p in $programs; do
    [ -x "$bin/$p" ] || continue
    linked=" $(objdump -p "$bin/$p" | awk '$1 == "NEEDED" { printf "%s ", $2 }')"
    ldd "$bin/$p" | awk '$2 == "=>" && $3 ~ /^\// { print $1, $3 }' >"$work/ldd"
    while read -r soname path; do
        package=$(owner "$path")
        [ -n "$package" ] || { fail "$p loads $path, which no package holds"; continue; }
        case "$linked" in
        *" $soname "*)
            echo "$depends" | grep -qx "$package" ||
                fail "$p links $soname of $package, which is not in Depends" ;;
        *)
            case "$brought" in
            *" $package "*) ;;
            *) fail "$p loads $soname of $package, which nothing in Depends brings" ;;
            esac ;;
        esac
    done <"$work/ldd"
done

if [ "$failures" -eq 0 ]; then
    echo "package check: PASS ($version: $programs)"
else
    echo "package check: FAIL ($failures failures)"
    exit 1
fi
