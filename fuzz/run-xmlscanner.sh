#!/usr/bin/env bash
# Builds the XML scanner fuzzer and runs it for the given number of seconds
# (default 600) at low priority. Seeds: short XML documents (fuzz/corpus-xml/),
# a sheet and a shared-string part among them, and two made here that go just
# past the 1 MiB a tag or comment may take (both parsers refuse it once read);
# fuzz/xml.dict holds the tokens of XML markup. Inputs may grow to 1.5 MiB, so
# that mutations reach past that limit too.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLANZHOU_BUILD_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j2 --target fuzz_xmlscanner
mkdir -p build-fuzz/corpus-xml build-fuzz/crashes
cp -n fuzz/corpus-xml/* build-fuzz/corpus-xml/ 2>/dev/null || true
past_limit=$(((1 << 20) + 64))
{ printf '<a b="'; head -c "$past_limit" /dev/zero | tr '\0' x; printf '"/>'; } \
  > build-fuzz/corpus-xml/long-tag.xml
{ printf '<a><!--'; head -c "$past_limit" /dev/zero | tr '\0' x; printf -- '--></a>'; } \
  > build-fuzz/corpus-xml/long-comment.xml
nice -n 10 build-fuzz/bin/fuzz_xmlscanner -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=1572864 \
  -dict=fuzz/xml.dict -artifact_prefix=build-fuzz/crashes/xml- -print_final_stats=1 build-fuzz/corpus-xml
