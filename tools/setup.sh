#!/usr/bin/env bash
# Installs what building, testing and running Quillfen needs on Debian:
# the mingw-w64 cross compiler, Wine, CMake, Ninja and GoogleTest's sources.
# Idempotent: when everything is there it only checks and returns.
set -euo pipefail

packages=(mingw-w64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          wine wine64 cmake ninja-build googletest)
missing=()
for pkg in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' \
    || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
