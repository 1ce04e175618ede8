#!/bin/sh
# What help2man reads for a man page: the program MAN_PROGRAM run with the
# arguments help2man gives (--help, --version), its usage line whole. help2man
# takes a usage line's first line alone as the synopsis and sets a wrapped
# rest apart as a paragraph of the description; here the indented lines that
# continue the first line are joined back onto it. Nothing else changes.
#     MAN_PROGRAM=PROGRAM help2man ... packaging/help-for-man.sh
set -eu
"$MAN_PROGRAM" "$@" | awk '
    NR == 1 && /^Usage: / { usage = $0; next }
    usage != "" && /^ +[^ ]/ { sub(/^ +/, " "); usage = usage $0; next }
    usage != "" { print usage; usage = "" }
    { print }
    END { if (usage != "") print usage }'
