#!/bin/sh
# shellcheck disable=SC2046,SC2086 # flag lists are split on purpose
# Installs a build into a temporary prefix, moves the installed tree elsewhere (an install must
# not depend on where it was made) and uses it as an outside project would: the consumer
# program built with pkg-config and with find_package(mbus), each run against the installed
# library; the installed tool run; the headers compiled as C and as C++98 after another header
# defined the names win32.h provides.
# Usage: install_test.sh BUILD_DIR C_COMPILER CXX_COMPILER
set -eu
build=$1 cc=$2 cxx=$3 cmake=${CMAKE:-cmake}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cmake" --install "$build" --prefix "$work/staged" >/dev/null
mv "$work/staged" "$work/prefix"
prefix=$work/prefix
pcdir=$(dirname "$(find "$prefix" -name mbus.pc)")
export PKG_CONFIG_PATH="$pcdir"
libdir=$(pkg-config --variable=libdir mbus)
test "$(cd "$libdir" && pwd)" = "$(cd "$pcdir/.." && pwd)"
unset LD_LIBRARY_PATH

strict="-Wall -Wextra -Werror -pedantic"
"$cc" -std=c99 $strict "$here/consumer/consumer.c" $(pkg-config --cflags --libs mbus) -o "$work/by-pkg-config"
LD_LIBRARY_PATH=$libdir "$work/by-pkg-config"

"$cmake" -S "$here/consumer" -B "$work/by-cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_C_FLAGS="$strict" >/dev/null
"$cmake" --build "$work/by-cmake" >/dev/null
"$work/by-cmake/consumer"

"$prefix/bin/mbus" list >/dev/null

cflags=$(pkg-config --cflags mbus)
for variant in "" -DPREDEFINED_AS_MACROS; do
    "$cc" -std=c11 $strict $variant $cflags "$here/predefined.c" -o "$work/predefined" -L"$libdir" -lmbus
    LD_LIBRARY_PATH=$libdir "$work/predefined"
    "$cxx" -std=c++98 -x c++ $strict $variant $cflags -fsyntax-only "$here/predefined.c"
done
"$cc" -std=c99 $strict -DPREDEFINED_AS_MACROS $cflags -fsyntax-only "$here/predefined.c"
echo "install: ok"
