#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the demo and the format check need.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git python3
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  clang-format  # and git-clang-format, for scripts/format-check.sh
  libfreetype-dev libfontconfig-dev fonts-dejavu-core
  libx11-dev libxext-dev libxtst-dev xvfb xdotool x11-utils x11-apps openbox
  firebird-dev libfbclient2 firebird3.0-server-core firebird3.0-utils
  # The Firebird server the database side's server test runs as its service does.
  firebird3.0-server
  # Only for Firebird's UDR headers: firebird/UdrCppEngine.h includes Message.h,
  # which uses Boost's preprocessor library. Our own code uses no Boost.
  libboost-dev
  dante-server procps psmisc
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (run as root to install): ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq || true
apt-get install -y -qq --no-install-recommends "${missing[@]}"
