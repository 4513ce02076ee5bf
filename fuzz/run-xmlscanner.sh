#!/usr/bin/env bash
# Builds the XML scanner fuzzer and runs it for the given number of seconds
# (default 600) at low priority, in two parts. Nine tenths on short XML
# documents (fuzz/corpus-xml/: a sheet and a shared-string part among them),
# which may grow to 1.5 MiB; the last tenth on two documents made here that go
# just past the 1 MiB a tag or comment may take (both parsers refuse such
# markup however the reads cut it), mutated at that size. Apart, because a
# document of a megabyte runs a hundred times slower than a short one.
# fuzz/xml.dict holds the tokens of XML markup.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLANZHOU_BUILD_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j2 --target fuzz_xmlscanner
mkdir -p build-fuzz/corpus-xml build-fuzz/corpus-xml-long build-fuzz/crashes
cp -n fuzz/corpus-xml/* build-fuzz/corpus-xml/ 2>/dev/null || true
past_limit=$(((1 << 20) + 64))
{ printf '<a b="'; head -c "$past_limit" /dev/zero | tr '\0' x; printf '"/>'; } \
  > build-fuzz/corpus-xml-long/long-tag.xml
{ printf '<a><!--'; head -c "$past_limit" /dev/zero | tr '\0' x; printf -- '--></a>'; } \
  > build-fuzz/corpus-xml-long/long-comment.xml
run() {
  nice -n 10 build-fuzz/bin/fuzz_xmlscanner -max_total_time="$1" -rss_limit_mb=2048 -max_len=1572864 \
    -dict=fuzz/xml.dict -artifact_prefix=build-fuzz/crashes/xml- -print_final_stats=1 "$2"
}
run $((seconds - seconds / 10)) build-fuzz/corpus-xml
run $((seconds / 10)) build-fuzz/corpus-xml-long
