#!/usr/bin/env bash
# Installs the build into a scratch prefix, then builds a C host against it twice: through the
# CMake package and through pkg-config. Arguments: build folder, source folder of this host.
set -euo pipefail
build=$1
here=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
test -x "$prefix/bin/kivmod" && test -x "$prefix/bin/kivmod-phonesim"
# The installed tool finds its library from its own place, without a search path.
env -u LD_LIBRARY_PATH "$prefix/bin/kivmod" --version | grep -q "^kivmod [0-9]*\.[0-9]*\.[0-9]*$"
cmake -S "$here" -B "$prefix/host-build" -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
cmake --build "$prefix/host-build" > /dev/null
LD_LIBRARY_PATH="$prefix/lib:${LD_LIBRARY_PATH:-}" "$prefix/host-build/host"
libdir=$(ls -d "$prefix"/lib*/pkgconfig | head -1)
cc "$here/host.c" -o "$prefix/host-pc" $(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs kivmod)
LD_LIBRARY_PATH="$(dirname "$libdir"):${LD_LIBRARY_PATH:-}" "$prefix/host-pc"
