#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite through CTest.
#   test.sh [DIR] [cmake options...]   (default DIR: build)
# The results are also written to DIR/ctest-junit.xml (for .ci/run's count).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build test
dir=${1:-build}
bash scripts/build.sh "$@"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --output-junit ctest-junit.xml
