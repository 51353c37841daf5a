#!/usr/bin/env bash
# Builds Quillfen with its benchmarks and runs them under Wine in the build's
# own prefix, with the real QFServer and QFClient services installed there
# for the run and removed at its end; prints one table.
#   tools/bench.sh [BUILD_DIR]        (default: build-bench beside the sources)
# The run holds the lock of TCP port 6401, which the test suites share.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=$(realpath -m "${1:-$source_dir/build-bench}")
prefix=$build_dir/wineprefix
bin=$build_dir/bin

if [ -z "${QF_BENCH_LOCKED:-}" ]; then
  "$here/setup.sh"
  cmake -S "$source_dir" -B "$build_dir" -G Ninja -DQF_BUILD_BENCHMARKS=ON >/dev/null
  cmake --build "$build_dir" --target benchmarks
  # The prefix and its wineserver exist before the lock is taken, so no
  # process that outlives this run holds the lock.
  "$here/wine-session.sh" start "$prefix"
  QF_BENCH_LOCKED=1 exec flock /tmp/qf-port6401.lock "$0" "$build_dir"
fi

run() { "$here/wine-run.sh" "$prefix" "$@"; }
drive_c=$prefix/drive_c
rows=$build_dir/bench-rows.txt
: >"$rows"
mkdir -p "$drive_c/qfbench/server" "$drive_c/qfbench/client"

cleanup() {
  run net stop QFClient >/dev/null 2>&1 || true
  run net stop Quillfen >/dev/null 2>&1 || true
  run "$bin/qfnt.exe" -U >/dev/null 2>&1 || true
  run "$bin/QFServer.exe" -U >/dev/null 2>&1 || true
  for key in 'HKLM\SYSTEM\CurrentControlSet\Services\QFClient' \
             'HKLM\SYSTEM\CurrentControlSet\Services\Quillfen' \
             'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\QFClient' \
             'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Quillfen'; do
    run reg delete "$key" /f >/dev/null 2>&1 || true
  done
  rm -rf "$drive_c/qfbench"
  "$here/wine-session.sh" stop "$prefix"
}
trap cleanup EXIT

# Each benchmark's rows go to the table; everything else it prints is shown.
bench() {
  echo "== $*" >&2
  run "$@" | sed -u 's/\r$//' | tee -a "$rows" | grep -v '^ROW' >&2 || true
}

run "$bin/QFServer.exe" -RESET -PATH 'C:\qfbench\server' >/dev/null
run "$bin/QFServer.exe" -I >/dev/null
run "$bin/qfnt.exe" -RESET -PATH 'C:\qfbench\client' >/dev/null
run "$bin/qfnt.exe" -I >/dev/null
run net stop QFClient >/dev/null 2>&1 || true   # it installs with automatic start

started=$(date +%s)
bench "$bin/IngestBench.exe" 'C:\qfbench\server' "${QF_BENCH_SECONDS:-9}"
bench "$bin/DrainBench.exe" drain 200 'C:\qfbench\drain'
bench "$bin/DrainBench.exe" queue 100000 'C:\qfbench\queue'
bench "$bin/TickBench.exe"
bench "$bin/IdleBench.exe" 60
elapsed=$(( $(date +%s) - started ))

{
  printf 'Benchmark\tFigure\tValue\tBaseline (same run)\tRatio\tGoal\tMet\tNote\n'
  grep '^ROW' "$rows" | cut -f2-
} | column -t -s $'\t'
echo
echo "$(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GiB, $(wine --version), $(. /etc/os-release && echo "$PRETTY_NAME"); benchmarks ran ${elapsed} s"
