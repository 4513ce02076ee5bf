#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over the program's own sources
# (src/ and tools/; not the tests, benchmarks or fuzzers, and not the moc/qrc
# files the build generates) and exits non-zero on any finding.
#
#   bash scripts/tidy.sh            configure and build build/, then check the
#                                   sources that changed (below)
#   bash scripts/tidy.sh --all      the same over every source (CI=true: always)
#   bash scripts/tidy.sh FILE...    check only these sources (build/ must be configured)
#
# The build comes first because the sources include files that moc writes.
#
# Which sources changed: a source is checked again only when it, or a file of
# ours it includes, or its compile command, .clang-tidy or clang-tidy itself
# differs from when it last passed here (the passes are remembered in
# build/tidy-passed), and when it differs from what the main branch holds:
# CI checks every source of main. So a fresh checkout of main checks nothing,
# and a change to one header checks the sources that include it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [ -z "$tidy" ]; then
  echo "clang-tidy is not installed (scripts/packages.txt lists it)" >&2
  exit 2
fi
# Debian's Python: the selection needs nothing beyond its standard library.
python=$(command -v /usr/bin/python3 || command -v python3)

mode=changed
if [ "${CI:-}" = true ]; then
  mode=all
fi
files=()
for argument in "$@"; do
  if [ "$argument" = --all ]; then
    mode=all
  else
    files+=("$argument")
  fi
done

if [ "${#files[@]}" -gt 0 ]; then
  if [ ! -f build/compile_commands.json ]; then
    echo "build/ has no compile_commands.json: run bash scripts/tidy.sh once without files" >&2
    exit 2
  fi
else
  cmake -S . -B build -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
  cmake --build build -j"$(nproc)"
fi

version=$("$tidy" --version | tr '\n' ' ')
selected=$(mktemp)
trap 'rm -f "$selected"' EXIT
"$python" scripts/tidyselect.py select build "$version" "$mode" ${files[@]+"${files[@]}"} >"$selected"
count=$(tr -cd '\0' <"$selected" | wc -c)
count=$((count / 2))
total=$(find src tools -name '*.cpp' | wc -l)

# One clang-tidy per source, as many at once as there are cores, each one's
# output printed whole when it ends; a source that passes is remembered. Every
# check is an error, so a finding makes clang-tidy, and then xargs, exit
# non-zero. The lines dropped are the counts of warnings suppressed in system
# and generated headers.
check_one='out=$("$0" -p build --quiet --header-filter="$1" "$4" 2>&1); status=$?
printf "%s\n" "$out" | grep -v -E "^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter|^$"
[ "$status" -eq 0 ] && "$2" scripts/tidyselect.py remember build "$3" "$4"
exit $status'
start=$(date +%s)
status=0
# Each library reaches its headers through an include root of its own in the
# build folder (see src/CMakeLists.txt), so that is where they are found.
if [ "$count" -gt 0 ]; then
  xargs -0 -n 2 -P"$(nproc)" sh -c "$check_one" "$tidy" "^$root/(src|tools|build/include)/" "$python" \
    <"$selected" || status=$?
fi
if [ "$mode" = all ] || [ "${#files[@]}" -gt 0 ]; then
  echo "clang-tidy: $count sources in $(($(date +%s) - start)) s"
else
  echo "clang-tidy: $count of $total sources in $(($(date +%s) - start)) s" \
    "(the others passed here before, or are as on main, which CI checks whole; --all checks every one)"
fi
if [ "$status" -ne 0 ]; then
  echo "clang-tidy reported findings (see above)" >&2
  exit 1
fi
