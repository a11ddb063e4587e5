#!/usr/bin/env bash
# Installs the Debian packages Quorvel needs to build, test and run. Idempotent and
# non-interactive: packages already present are left alone; nothing is fetched otherwise.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libgl-dev
  dpkg-dev file desktop-file-utils librsvg2-bin icoutils
  libicu-dev libcurl4-openssl-dev libssl-dev openssl libpcre2-dev
  libcpp-httplib-dev libgtest-dev libgmock-dev libbenchmark-dev
  tinyproxy socat
  fonts-noto-cjk
  xvfb xauth
  clang-14 libclang-rt-14-dev
  # The Windows build: the cross compiler, GoogleTest's sources, and Wine to run the tests.
  g++-mingw-w64-x86-64-posix googletest
  wine wine64 fonts-wine
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then SUDO=sudo; else
      echo "setup: need root to install: ${missing[*]}" >&2; exit 1; fi
  else SUDO=""; fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# tinyproxy is started by the tests themselves; the Debian service is not needed.
if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet tinyproxy 2>/dev/null; then
  systemctl stop tinyproxy >/dev/null 2>&1 || true
fi
