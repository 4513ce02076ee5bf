#!/usr/bin/env bash
# Sets everything up and runs the whole test suite through CTest: every suite
# on the offscreen platform, then the GUI suites once more in a real X server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --output-on-failure -L gui
