#!/usr/bin/env bash
# Builds Quillfen and runs the fault-injection cases against the real
# services under Wine, in the build's own prefix; prints one table of the
# records sent, acknowledged, logged, lost and duplicated in each case.
#   tools/faults.sh [BUILD_DIR]        (default: build-bench beside the sources)
# The server's full disk is a 1 MiB tmpfs mounted for the run and mapped as
# drive Q: through the prefix's dosdevices; where no tmpfs can be mounted
# that case is skipped and says so. The run holds the lock of TCP port 6401.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=$(realpath -m "${1:-$source_dir/build-bench}")
prefix=$build_dir/wineprefix

if [ -z "${QF_FAULTS_LOCKED:-}" ]; then
  "$here/setup.sh"
  cmake -S "$source_dir" -B "$build_dir" -G Ninja >/dev/null
  cmake --build "$build_dir" --target FaultInjectionTests FaultPropertyTests
  "$here/wine-session.sh" start "$prefix"
  QF_FAULTS_LOCKED=1 exec flock /tmp/qf-port6401.lock "$0" "$build_dir"
fi

disk=$build_dir/fault-disk
drive=$prefix/dosdevices/q:
output=$build_dir/faults-output.txt
cleanup() {
  rm -f "$drive"
  if mountpoint -q "$disk" 2>/dev/null; then umount "$disk" || true; fi
  "$here/wine-session.sh" stop "$prefix"
}
trap cleanup EXIT

mkdir -p "$disk"
if mountpoint -q "$disk" || mount -t tmpfs -o size=1m qf-fault-disk "$disk" 2>/dev/null; then
  ln -sfn "$disk" "$drive"
else
  echo "no tmpfs could be mounted: the full-disk case is skipped" >&2
fi

status=0
"$here/wine-run.sh" "$prefix" "$build_dir/bin/FaultInjectionTests.exe" 2>&1 | sed -u 's/\r$//' | tee "$output" \
  | grep -v '^FAULT' || status=$?
grep -q '^\[  PASSED  \]' "$output" && ! grep -q '^\[  FAILED  \]' "$output" || status=1

{
  printf 'Case\tSent\tAcknowledged\tLogged\tLost\tDuplicated\tResult\tNote\n'
  grep '^FAULT' "$output" | while IFS=$'\t' read -r _ result name sent acked logged lost dup note; do
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$sent" "$acked" "$logged" "$lost" "$dup" "$result" "$note"
  done
} | column -t -s $'\t'
echo
grep -E '^\[ +(OK|FAILED|SKIPPED) +\] FaultInjection' "$output" || true
echo "$(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GiB, $(wine --version), $(. /etc/os-release && echo "$PRETTY_NAME")"
exit $status
