#!/usr/bin/env bash
# Builds Quillfen and runs the whole test suite under Wine, in a prefix of
# the build's own; ends with CTest's summary.
#   tools/test.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${1:-$source_dir/build}

"$here/setup.sh"
cmake -S "$source_dir" -B "$build_dir" -G Ninja >/dev/null
cmake --build "$build_dir"

status=0
(cd "$build_dir" && ctest --output-on-failure -j2) || status=$?
# Whatever happened, no wineserver of this run outlives it.
"$here/wine-session.sh" stop "$build_dir/wineprefix"
exit $status
