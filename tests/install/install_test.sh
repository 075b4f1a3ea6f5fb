#!/usr/bin/env bash
# Installs the build into a private prefix and builds the consumer program against it.
set -euo pipefail
build=$1
source=$(cd "$(dirname "$0")" && pwd)/consumer
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" > /dev/null
cmake -S "$source" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" > /dev/null
cmake --build "$work/build" > /dev/null
out=$(DORVEX_TMPDIR=$work/tmp XDG_CONFIG_HOME=$work/config "$work/build/consumer")
[ "$out" = "王小明 1 0" ] || { echo "FAIL: consumer printed [$out]"; exit 1; }
echo "install test: passed"
