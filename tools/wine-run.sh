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

mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 9>&-
    wineserver -w 9>&-
  fi
  # Status 0: a new persistent server was started (status 2: one runs already).
  # Its resident processes (services.exe and the rest) start with the first
  # program; start them here with null stdio, or they would hold the caller's
  # pipes open for as long as the server lives.
  # None of them may inherit the lock.
  if wineserver -p </dev/null >/dev/null 2>&1 9>&-; then
    # Windows get Wine's null display driver, so that tests can create them
    # and give them the foreground without an X server. The desktop reads the
    # setting when it starts, and setting it starts one: begin once afresh.
    if ! grep -qs '^"Graphics"="null"' "$prefix/user.reg"; then
      wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 9>&-
      wineserver -k 9>&-; wineserver -w 9>&-
      wineserver -p </dev/null >/dev/null 2>&1 9>&-
    fi
    wine cmd /c exit 0 </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$prefix.lock"

exec wine "$@"
