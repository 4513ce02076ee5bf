#!/usr/bin/env bash
# Builds the BIFF8 record fuzzer and runs it for the given number of seconds
# (default 600) at low priority. Seeds: the workbook streams of the test .xls
# files (fuzz/corpus-biff8/), formulas and their STRING records included.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLANZHOU_BUILD_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j2 --target fuzz_biff8
mkdir -p build-fuzz/corpus-biff8 build-fuzz/crashes
cp -n fuzz/corpus-biff8/* build-fuzz/corpus-biff8/ 2>/dev/null || true
nice -n 10 build-fuzz/bin/fuzz_biff8 -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=65536 \
  -artifact_prefix=build-fuzz/crashes/biff8- -print_final_stats=1 build-fuzz/corpus-biff8
