#!/bin/sh
# shellcheck disable=SC2086 # flag lists are split on purpose
# Compiles every C block of the guide against the build tree's headers and library, and runs
# each whole program. A block opened with "```c" is a program run to completion; "```c
# background" a program started before the ones that follow and awaited after the next one;
# "```c fragment" is compiled only. Programs get two sink names unique to this run.
# Usage: guide_test.sh GUIDE INCLUDE_DIR LIBRARY_DIR C_COMPILER
set -eu
guide=$1 include=$2 libdir=$3 cc=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

awk -v dir="$work" '
    /^```c( |$)/ { kind = $2 == "" ? "run" : $2; file = sprintf("%s/%02d-%s.c", dir, ++count, kind); next }
    /^```/ { file = ""; next }
    file != "" { print > file }
' "$guide"

names="guide$$-a guide$$-b"
waiting=""
blocks=0
for source in "$work"/*.c; do
    blocks=$((blocks + 1))
    program=${source%.c}
    flags="-std=c11 -Wall -Wextra -Werror -pedantic -I$include"
    case $source in
    *-fragment.c)
        "$cc" $flags -c "$source" -o "$program.o"
        continue ;;
    esac
    "$cc" $flags "$source" -o "$program" -L"$libdir" -lmbus -Wl,-rpath,"$libdir"
    case $source in
    *-background.c)
        "$program" $names &
        waiting="$waiting $!" ;;
    *)
        "$program" $names
        for pid in $waiting; do wait "$pid"; done
        waiting="" ;;
    esac
done
test "$blocks" -gt 0
echo "guide: $blocks blocks compiled, programs ran"
