#!/usr/bin/env bash
# librawframes as a user gets it: installed with cmake --install, the example
# program built against it through pkg-config (shared and static) and through
# the CMake package, and run.
#   library_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(dirname "$(find "$work/prefix" -name librawframes.so.1 | head -n 1)")
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(readelf -d "$libdir/librawframes.so.1" | grep -o 'Library soname: \[.*\]')" = \
  "Library soname: [librawframes.so.1]" ]

cc -std=c11 -Wall -Wextra -Werror "$source/librawframes/example.c" \
  $(pkg-config --cflags --libs rawframes) -o "$work/shared"
LD_LIBRARY_PATH="$libdir" "$work/shared" > "$work/shared.out"
cc -std=c11 -Wall -Wextra -Werror "$source/librawframes/example.c" \
  $(pkg-config --cflags rawframes) "$libdir/librawframes.a" -lstdc++ -lm -o "$work/static"
"$work/static" > "$work/static.out"
cmp "$work/shared.out" "$work/static.out"

mkdir "$work/consumer"
cat > "$work/consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(rawframes 1 REQUIRED)
add_executable(example $source/librawframes/example.c)
target_link_libraries(example PRIVATE rawframes::rawframes)
CMAKE
cmake -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer/build" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/consumer/build/example" > "$work/cmake.out"
cmp "$work/shared.out" "$work/cmake.out"
cat "$work/shared.out"
