#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over the program's own sources
# (src/ and tools/; not the tests, benchmarks or fuzzers, and not the moc/qrc
# files the build generates) and exits non-zero on any finding.
#
#   bash scripts/tidy.sh            configure and build build/, then check every source
#   bash scripts/tidy.sh FILE...    check only these sources (build/ must be configured)
#
# The build comes first because the sources include files that moc writes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [ -z "$tidy" ]; then
  echo "clang-tidy is not installed (scripts/packages.txt lists it)" >&2
  exit 2
fi

if [ "$#" -gt 0 ]; then
  sources=("$@")
  if [ ! -f build/compile_commands.json ]; then
    echo "build/ has no compile_commands.json: run bash scripts/tidy.sh once without files" >&2
    exit 2
  fi
else
  cmake -S . -B build -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
  cmake --build build -j"$(nproc)"
  mapfile -t sources < <(find src tools -name '*.cpp' | sort)
fi

# One clang-tidy per source, as many at once as there are cores, each one's
# output printed whole when it ends. Every check is an error, so a finding
# makes clang-tidy, and then xargs, exit non-zero. The lines dropped are the
# counts of warnings suppressed in system and generated headers.
check_one='out=$("$0" -p build --quiet --header-filter="$1" "$2" 2>&1); status=$?
printf "%s\n" "$out" | grep -v -E "^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter|^$"
exit $status'
start=$(date +%s)
status=0
# Each library reaches its headers through an include root of its own in the
# build folder (see src/CMakeLists.txt), so that is where they are found.
printf '%s\0' "${sources[@]}" \
  | xargs -0 -P"$(nproc)" -I{} sh -c "$check_one" "$tidy" "^$root/(src|tools|build/include)/" {} || status=$?
echo "clang-tidy: ${#sources[@]} sources in $(($(date +%s) - start)) s"
if [ "$status" -ne 0 ]; then
  echo "clang-tidy reported findings (see above)" >&2
  exit 1
fi
