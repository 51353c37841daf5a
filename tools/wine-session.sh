#!/usr/bin/env bash
# Starts or ends the Wine session of a test run:
#   wine-session.sh start|stop PREFIX
set -u
action=$1 prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
here=$(cd "$(dirname "$0")" && pwd)
case $action in
  start) exec "$here/wine-run.sh" "$prefix" cmd /c exit 0 ;;
  stop)  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; exit 0 ;;
  *)     echo "usage: $0 start|stop PREFIX" >&2; exit 2 ;;
esac
