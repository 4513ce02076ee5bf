#!/usr/bin/env bash
# Sets everything up and runs the whole test suite through CTest: every suite
# on the offscreen platform, the GUI suites once more in a real X server
# (xvfb-run), the installed files through their validators and the Debian
# package installed into a scratch folder. Then clang-tidy over the program's
# sources that changed (scripts/tidy.sh; every source when CI=true, as .ci/run
# sets it), which must report nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cd build
ctest --output-on-failure -j"$(nproc)"
cd ..
bash scripts/tidy.sh
