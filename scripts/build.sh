#!/usr/bin/env bash
# Configures and builds into a build folder: build.sh [DIR] [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEL_WERROR=$werror "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
