#!/bin/sh
# Installs what is missing, builds, and runs every test with CTest.
#
# The tests run in a network namespace that holds only loopback, where the
# machine allows one: the local services are on 127.0.0.1, and anything that
# tries to go further (a DNS lookup included) fails at once instead of
# leaving this machine. Where no namespace can be made the tests run on the
# machine's own network, and this script says so.
#
#   PELORIN_TEST_NETWORK=host   skip the namespace
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh
XDG_RUNTIME_DIR=$(mktemp -d)
chmod 700 "$XDG_RUNTIME_DIR"
export XDG_RUNTIME_DIR
# Tests start their own fake services on 127.0.0.1 with port 0, so they can run side by side.
run_ctest="ctest --test-dir build --output-on-failure --parallel $(nproc)"

# A new namespace starts with loopback down: bring it up, then run.
in_namespace="ip link set lo up && exec $run_ctest"
if [ "${PELORIN_TEST_NETWORK:-}" = host ]; then
    echo "test: PELORIN_TEST_NETWORK=host: the tests run on this machine's network"
elif ! command -v ip >/dev/null 2>&1; then
    echo "test: no 'ip' command (package iproute2): the tests run on this machine's network"
elif unshare -n sh -c 'ip link set lo up' 2>/dev/null; then
    echo "test: running in a network namespace with loopback only"
    exec unshare -n sh -c "$in_namespace"
else
    # A user namespace (unshare -r) would do without root, but there the
    # tests that act as another user cannot.
    echo "test: no network namespace can be made here (it needs root):" \
         "the tests run on this machine's network"
fi
exec $run_ctest
