#!/usr/bin/env bash
# Sets everything up, builds the tool pointed at the bundled rank-page simulator, starts the
# simulator on a loopback port and opens the tool's window. Closing the window stops the
# simulator. QUORVEL_SIM_PORT chooses the port (default 18080).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  echo "run: no display found; run this from a desktop session, or start one with: xvfb-run -a bash scripts/run.sh" >&2
  exit 1
fi

port="${QUORVEL_SIM_PORT:-18080}"
url="http://127.0.0.1:${port}/rank/rank.php"

cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_BUILD_TESTS=OFF \
      -DQUORVEL_BUILD_BENCH=OFF "-DQUORVEL_RANK_URL=${url}" >/dev/null
cmake --build build/run -j "$(nproc)" --target quorvel quorvel_rank_simulator

# The simulator prints its address once it listens; reading that line is the wait.
exec 3< <(exec build/run/tools/simulator/quorvel_rank_simulator --port "$port")
simulator=$!
trap 'kill "$simulator" 2>/dev/null || true' EXIT
trap 'exit 130' INT TERM HUP
if ! read -r -t 60 served <&3; then
  echo "run: the rank-page simulator did not start on port ${port} (in use? choose another with QUORVEL_SIM_PORT)" >&2
  exit 1
fi
echo "run: rank-page simulator at ${served}; close the window to stop"

build/run/app/quorvel
