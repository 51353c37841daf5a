#!/usr/bin/env bash
# The main job under Wine: builds Quillfen, then, in a demo prefix of its own
# inside the build folder, installs and starts the collecting server as the
# service Quillfen and the client as the service QFClient delivering to it
# (-SERVER .), runs a sample program for a few seconds, stops the client
# (whose last delivery pass sends what it queued), prints the server's
# Process.log and removes both services again. Needs no input and can be run
# again and again; the server needs TCP port 6401 to be free.
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

# Polls until the file holds the text; false after about 60 s.
wait_for_line() {
  for _ in $(seq 300); do
    [ -f "$1" ] && grep -q "$2" "$1" && return 0
    sleep 0.2
  done
  return 1
}

# Services the demo left behind (an interrupted run) go first; Wine would
# start them with the prefix, since they start automatically.
for service in QFClient Quillfen; do
  win net stop $service >/dev/null 2>&1 || true
done
win "$bin/qfnt.exe" -U >/dev/null
win "$bin/QFServer.exe" -U >/dev/null

server_logs=$build_dir/demo-logs/server
client_logs=$build_dir/demo-logs/client
rm -rf "$server_logs" "$client_logs"
mkdir -p "$server_logs" "$client_logs"
server_logs_win=$(win winepath -w "$server_logs" | tr -d '\r')
client_logs_win=$(win winepath -w "$client_logs" | tr -d '\r')

step "QFServer -RESET -PATH $server_logs_win (stored in the registry)"
win "$bin/QFServer.exe" -RESET -PATH "$server_logs_win"
step "QFServer -I"
win "$bin/QFServer.exe" -I
step "net start Quillfen"
win net start Quillfen
wait_for_line "$server_logs/Process.log" 'Server started' ||
  { echo "Quillfen did not start: is TCP port 6401 in use?" >&2; exit 1; }

step "qfnt -RESET -SERVER . -PATH $client_logs_win (stored in the registry)"
win "$bin/qfnt.exe" -RESET -SERVER . -PATH "$client_logs_win"
step "qfnt -I"
win "$bin/qfnt.exe" -I
step "The service entries"
for service in Quillfen QFClient; do
  echo "$service"
  win reg query "HKLM\\System\\CurrentControlSet\\Services\\$service" | tr -d '\r' | grep -E 'Type|Start|ImagePath'
done

step "net start QFClient"
win net start QFClient
step "sc query QFClient"
status=$(win sc query QFClient | tr -d '\r')
echo "$status"
grep -q 'RUNNING' <<<"$status" || { echo "QFClient is not running" >&2; exit 1; }
# Its first delivery pass runs at once and brings "Logging started".
wait_for_line "$server_logs/Process.log" 'Logging started' ||
  { echo "QFClient delivered nothing to the server" >&2; exit 1; }

# Long enough for the client's first snapshot, 5 s after its start.
step "QfSample.exe 8000 (a sample program that runs for 8 s)"
win "$bin/QfSample.exe" 8000
# Its end is seen at the next tick, 500 ms on.
sleep 2

step "net stop QFClient"
win net stop QFClient
# The client's last delivery pass runs after it has reported stopped: wait
# for its "Logging stopped" to reach the server.
wait_for_line "$server_logs/Process.log" 'Logging stopped' ||
  { echo "QFClient's last delivery did not arrive" >&2; exit 1; }

step "net stop Quillfen"
win net stop Quillfen

step "The server's Process.log"
tr -d '\r' <"$server_logs/Process.log"

step "qfnt -U -RESET, QFServer -U -RESET"
win "$bin/qfnt.exe" -U -RESET
win "$bin/QFServer.exe" -U -RESET
echo
echo "Demo finished."
