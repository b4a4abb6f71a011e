#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window with the delivered plan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build
bash scripts/build.sh build
exec build/bin/orvel
