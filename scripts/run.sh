#!/usr/bin/env bash
# Sets everything up and starts the program. The database lives beside the
# executable: build/bin/通讯录.dat, backups in build/bin/数据备份/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
exec build/bin/lanzhou-sms
