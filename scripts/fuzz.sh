#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 30).
# They need no Qt, so the build leaves the window out.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
bash scripts/setup.sh build fuzz
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
CXX=clang++ CC=clang cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEL_WERROR=$werror \
    -DORVEL_FUZZ=ON -DORVEL_CORE_ONLY=ON -DORVEL_SANITIZE=fuzzer-no-link,address,undefined >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzzers
shopt -s nullglob
for target in build-fuzz/bin/fuzz_*; do
    name=$(basename "$target")
    corpus=$(mktemp -d)
    seeds=tests/fuzz/corpus/${name#fuzz_}
    [ -d "$seeds" ] && cp -r "$seeds"/. "$corpus"/
    echo "-- $name for ${seconds}s"
    "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "$corpus"
    rm -rf "$corpus"
done
