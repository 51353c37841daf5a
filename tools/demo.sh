#!/usr/bin/env bash
# The main job under Wine: builds Quillfen, then, in a demo prefix of its own
# inside the build folder, installs the client as the service QFClient with a
# local log, starts it, shows it running, stops it, shows its log and removes
# it again. Needs no input and can be run again and again.
#   tools/demo.sh [BUILD_DIR]
set -euo pipefail
exec </dev/null
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${1:-$source_dir/build}

"$here/setup.sh"
cmake -S "$source_dir" -B "$build_dir" -G Ninja >/dev/null
cmake --build "$build_dir"

prefix=$build_dir/demo-prefix
bin=$build_dir/bin
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=

step() { printf '\n== %s\n' "$*"; }
# Every Windows program runs in the demo prefix with its persistent
# wineserver (created and started on first use).
win() { "$here/wine-run.sh" "$prefix" "$@"; }
# Services live as long as the wineserver: end it, whatever happens.
finish() { "$here/wine-session.sh" stop "$prefix"; }
trap finish EXIT

# A service the demo left behind (an interrupted run) goes first; Wine
# would start it with the prefix, since it starts automatically.
win net stop QFClient >/dev/null 2>&1 || true
win "$bin/qfnt.exe" -U >/dev/null

client_logs=$build_dir/demo-logs/client
rm -rf "$client_logs"
mkdir -p "$client_logs"
client_logs_win=$(win winepath -w "$client_logs" | tr -d '\r')

step "qfnt -V"
win "$bin/qfnt.exe" -V
step "qfnt -RESET -PATH $client_logs_win (stored in the registry)"
win "$bin/qfnt.exe" -RESET -PATH "$client_logs_win"
step "qfnt -I"
win "$bin/qfnt.exe" -I
step "The service entry"
win reg query 'HKLM\System\CurrentControlSet\Services\QFClient' | tr -d '\r' | grep -E 'Type|Start|ImagePath'

step "net start QFClient"
win net start QFClient
step "sc query QFClient"
status=$(win sc query QFClient | tr -d '\r')
echo "$status"
grep -q 'RUNNING' <<<"$status" || { echo "QFClient is not running" >&2; exit 1; }

step "net stop QFClient"
win net stop QFClient
# The stopped state follows the last "Logging stopped" line.
for _ in $(seq 50); do
  status=$(win sc query QFClient | tr -d '\r')
  grep -q 'STOPPED' <<<"$status" && break
  sleep 0.2
done
grep -q 'STOPPED' <<<"$status" || { echo "QFClient did not stop" >&2; exit 1; }

step "The client's Process.log"
if [ -f "$client_logs/Process.log" ]; then
  tr -d '\r' <"$client_logs/Process.log"
else
  echo "(none written)"
fi

step "qfnt -U -RESET"
win "$bin/qfnt.exe" -U -RESET
echo
echo "Demo finished."
