#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package with CPack:
#   package.sh [DIR] [cmake options...]   (default DIR: build)
# The last line printed is the path of DIR/orvel_<version>_amd64.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build package
dir=${1:-build}
bash scripts/build.sh "$@"
rm -f "$dir"/orvel_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/orvel_*_amd64.deb
