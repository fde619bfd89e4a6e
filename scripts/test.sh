#!/usr/bin/env bash
# Installs what the tests need and this machine lacks, then configures, builds
# and runs every test with the README's test command.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-packages.sh test
echo "building and testing (a few minutes on 2 cores)"
cmake --workflow --preset default
