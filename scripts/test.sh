#!/bin/sh
# Installs what is missing, builds, and runs every test with CTest.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh
XDG_RUNTIME_DIR=$(mktemp -d)
chmod 700 "$XDG_RUNTIME_DIR"
export XDG_RUNTIME_DIR
# Tests start their own fake services on 127.0.0.1 with port 0, so they can run side by side.
ctest --test-dir build --output-on-failure --parallel "$(nproc)"
