#!/usr/bin/env bash
# Runs one Windows program under Wine in the given prefix:
#   wine-run.sh PREFIX PROGRAM.exe [ARGS...]
# Creates the prefix on first use and keeps one persistent wineserver for it,
# because services live only as long as their wineserver does.
set -u
prefix=$1; shift
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# Runs a command with null stdio and no other inherited descriptor. The
# wineserver and its resident processes (services.exe and the rest) outlive
# the program that started them: an inherited pipe would keep the caller
# waiting for their end, and an inherited lock (ours, or one a caller holds
# with flock around a test run) would never be released.
detached() {
  (
    for fd in /proc/$BASHPID/fd/*; do
      n=${fd##*/}
      [ "$n" -gt 2 ] 2>/dev/null && eval "exec $n>&-" 2>/dev/null
    done
    exec "$@"
  ) </dev/null >/dev/null 2>&1
}

mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    detached wineboot -i
    detached wineserver -w
  fi
  # Status 0: a new persistent server was started (status 2: one runs already).
  # Its resident processes start with the first program: start them here.
  if detached wineserver -p; then
    # Windows get Wine's null display driver, so that tests can create them
    # and give them the foreground without an X server. The desktop reads the
    # setting when it starts, and setting it starts one: begin once afresh.
    if ! grep -qs '^"Graphics"="null"' "$prefix/user.reg"; then
      detached wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
      detached wineserver -k; detached wineserver -w
      detached wineserver -p
    fi
    detached wine cmd /c exit 0
  fi
) 9>"$prefix.lock"

exec wine "$@"
