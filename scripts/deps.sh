#!/usr/bin/env bash
# Installs the Debian packages a step needs, only those that are missing.
# Usage: scripts/deps.sh native|windows|wine|bench|valgrind|fuzz ...
set -euo pipefail

pkgs=()
for group in "$@"; do
  case "$group" in
    native) pkgs+=(cmake g++ make python3 libgtest-dev libgmock-dev googletest nlohmann-json3-dev) ;;
    windows) pkgs+=(g++-mingw-w64-x86-64-posix mingw-w64 binutils-mingw-w64-x86-64) ;;
    wine) pkgs+=(wine64 xvfb xauth imagemagick) ;;
    bench) pkgs+=(libbenchmark-dev valgrind) ;;
    valgrind) pkgs+=(valgrind) ;;
    fuzz) pkgs+=(clang-14 libclang-rt-14-dev) ;;
    *) echo "deps.sh: unknown group $group" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
