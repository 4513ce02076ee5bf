#!/usr/bin/env bash
# Builds the import fuzzer and runs it for the given number of seconds
# (default 600) on a copy of the seed corpus, at low priority. Inputs may grow
# to 1.5 MiB: past the XML scanner's 1 MiB limit for a tag in a stored .xlsx.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLANZHOU_BUILD_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j2 --target fuzz_import
mkdir -p build-fuzz/corpus build-fuzz/crashes
cp -n fuzz/corpus/* build-fuzz/corpus/ 2>/dev/null || true
# The library's own leaks are told apart by the whole stack, which the fast
# unwinder loses in GLib's allocator.
ASAN_OPTIONS=fast_unwind_on_malloc=0 LSAN_OPTIONS=suppressions=fuzz/lsan-suppressions.txt nice -n 10 build-fuzz/bin/fuzz_import -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=1572864 \
  -artifact_prefix=build-fuzz/crashes/ -print_final_stats=1 build-fuzz/corpus
