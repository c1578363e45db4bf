#!/bin/sh
# Installs what is missing, builds, and starts Pelorin.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh
if [ -x build/app/pelorin ]; then
    exec build/app/pelorin
else
    echo "run: everything is built; the application itself does not exist yet (build/app/pelorin)."
fi
