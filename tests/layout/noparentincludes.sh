#!/bin/sh
# Fails, naming each, when a source or header under src/, tests/, bench/,
# fuzz/ or tools/ of the given checkout includes a file by a path that climbs
# out of its own folder. Such an include would reach past the include roots
# that keep each library to the headers of the libraries it links.
root=${1:?usage: noparentincludes.sh <checkout>}
cd "$root" || exit 2
found=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]\.\./' \
  src tests bench fuzz tools)
if [ -n "$found" ]; then
  printf '%s\n' "$found"
  echo "Include headers with their folder (\"storage/database.h\"), not by a relative path." >&2
  exit 1
fi
