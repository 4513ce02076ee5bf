#!/usr/bin/env bash
# Sets everything up, builds the program and makes the Debian package
# build/lanzhou-sms_<version>_<architecture>.deb. Install it with
#   sudo apt install ./build/lanzhou-sms_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --build build --target package
ls -1 build/lanzhou-sms_*.deb
