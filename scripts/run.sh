#!/usr/bin/env bash
# Sets everything up, builds the tool and opens its window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  echo "run: no display found; run this from a desktop session, or start one with: xvfb-run -a bash scripts/run.sh" >&2
  exit 1
fi

cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_BUILD_TESTS=OFF \
      -DQUORVEL_BUILD_BENCH=OFF >/dev/null
cmake --build build/run -j "$(nproc)" --target quorvel
exec build/run/app/quorvel
