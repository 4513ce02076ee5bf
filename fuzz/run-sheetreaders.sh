#!/usr/bin/env bash
# Builds the .xlsx and CSV reader fuzzers and runs each for the given number
# of seconds (default 600), one after the other, at low priority. Seeds: the
# test workbooks and CSV files, and stored (uncompressed) copies of the
# workbooks so that mutations reach the XML. A workbook may grow to 1.5 MiB, so
# that a stored sheet can hold a tag past the XML scanner's 1 MiB limit.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLANZHOU_BUILD_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j2 --target fuzz_xlsx_reader fuzz_csv_reader
mkdir -p build-fuzz/corpus-xlsx build-fuzz/corpus-csv build-fuzz/crashes
for seed in tests/data/xlsx/*.xlsx fuzz/corpus-sheetreaders/*.xlsx; do
  case "$seed" in *bomb*) continue ;; esac # large, and covered by the tests
  cp -n "$seed" build-fuzz/corpus-xlsx/ 2>/dev/null || true
done
cp -n tests/data/xlsx/*.csv build-fuzz/corpus-csv/ 2>/dev/null || true
nice -n 10 build-fuzz/bin/fuzz_xlsx_reader -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=1572864 \
  -artifact_prefix=build-fuzz/crashes/xlsx- -print_final_stats=1 build-fuzz/corpus-xlsx
nice -n 10 build-fuzz/bin/fuzz_csv_reader -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=8192 \
  -artifact_prefix=build-fuzz/crashes/csv- -print_final_stats=1 build-fuzz/corpus-csv
