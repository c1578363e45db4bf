#!/bin/sh
# Installs what is missing, builds, starts the local stand-in services on
# loopback (once: later runs reuse them) and opens a Pelorin window on them.
#
#   ./scripts/run.sh                    the default profile
#   ./scripts/run.sh --profile bob      a second identity beside the first, with
#                                       its own data and vault folders
#                                       (PELORIN_PROFILE=bob does the same)
#   ./scripts/run.sh --stop-services    stops the local services
#
# The window talks to the services named by PELORIN_NODE_DIRECTORY_URL and
# PELORIN_GROUP_CENTER_URL; set them to use other services than the local ones.
# PELORIN_RELAY_PORT and PELORIN_GROUP_PORT move the local ones (8787, 8788).
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

relay_port=${PELORIN_RELAY_PORT:-8787}
group_port=${PELORIN_GROUP_PORT:-8788}
state="$root/build/run"

profile=${PELORIN_PROFILE:-}
stop_services=0
while [ $# -gt 0 ]; do
    case "$1" in
        --profile) [ $# -ge 2 ] || { echo "run: --profile needs a name" >&2; exit 2; }
                   profile=$2; shift 2 ;;
        --profile=*) profile=${1#--profile=}; shift ;;
        --stop-services) stop_services=1; shift ;;
        -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "run: unknown argument '$1' (see --help)" >&2; exit 2 ;;
    esac
done
case "$profile" in
    *[!A-Za-z0-9_-]*) echo "run: a profile name uses only letters, digits, '-' and '_'" >&2; exit 2 ;;
esac

# ours NAME [PORT]: the pid file of NAME names a live process running this
# checkout's program for it (a pid can be reused by anything once it ended),
# on PORT when one is given.
ours() {
    [ -f "$state/$1.pid" ] || return 1
    pid=$(cat "$state/$1.pid")
    [ -r "/proc/$pid/cmdline" ] || return 1
    command=" $(tr '\0' ' ' <"/proc/$pid/cmdline")"
    case "$command" in *" $root/build/tests/support/"*) ;; *) return 1 ;; esac
    [ -z "${2:-}" ] || case "$command" in *" $2 "*) ;; *) return 1 ;; esac
}

stop_service() {
    if ours "$1"; then kill "$(cat "$state/$1.pid")" 2>/dev/null || true; fi
    rm -f "$state/$1.pid"
}
if [ "$stop_services" = 1 ]; then
    stop_service relay
    stop_service groups
    echo "run: local services stopped"
    exit 0
fi

PELORIN_BUILD_QUIET=1 ./scripts/build.sh

answers() { curl -fsS -m 2 -o /dev/null "$1" 2>/dev/null; }

# start_service NAME CHECK-URL PORT-VARIABLE COMMAND...: reuses the service
# this checkout started when it still answers; refuses a port that something
# else answers on (on a shared machine that may be anybody's services); else
# starts it in the background (it outlives this script) and waits until it
# answers.
start_service() {
    name=$1; url=$2; variable=$3; port=$4; shift 4
    if ours "$name" "$port" && answers "$url"; then
        echo "run: $name already running ($url)"
        return 0
    fi
    if answers "$url"; then
        echo "run: something that this checkout did not start answers on $url." >&2
        echo "run: stop it, or choose a free port for the local $name with $variable=<port>." >&2
        exit 1
    fi
    if ours "$name"; then kill "$(cat "$state/$name.pid")" 2>/dev/null || true; fi
    mkdir -p "$state"
    nohup "$@" >"$state/$name.log" 2>&1 </dev/null &
    echo $! >"$state/$name.pid"
    tries=0
    until answers "$url"; do
        tries=$((tries + 1))
        if [ $tries -gt 50 ] || ! kill -0 "$(cat "$state/$name.pid")" 2>/dev/null; then
            echo "run: $name did not start (is its port taken? $variable chooses another); see $state/$name.log" >&2
            exit 1
        fi
        sleep 0.1
    done
    echo "run: $name started ($url, log $state/$name.log)"
}

start_service relay "http://127.0.0.1:$relay_port/v1/health" PELORIN_RELAY_PORT "$relay_port" \
    "$root/build/tests/support/pelorin-relay-fakes" "$relay_port"
start_service groups "http://127.0.0.1:$group_port/v1/capacity" PELORIN_GROUP_PORT "$group_port" \
    "$root/build/tests/support/pelorin-group-fakes" --port "$group_port"

export PELORIN_NODE_DIRECTORY_URL="${PELORIN_NODE_DIRECTORY_URL:-http://127.0.0.1:$relay_port}"
export PELORIN_GROUP_CENTER_URL="${PELORIN_GROUP_CENTER_URL:-http://127.0.0.1:$group_port}"

# A profile is a data and a settings folder of its own: the store, the
# credential vault and the settings all live below them.
if [ -n "$profile" ]; then
    base="${XDG_DATA_HOME:-$HOME/.local/share}/pelorin-profiles/$profile"
    export XDG_DATA_HOME="$base/data"
    export XDG_CONFIG_HOME="$base/config"
    # Only the user may look into a profile: it holds the message store.
    (umask 077; mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME")
    chmod 700 "$base" "$base/data" "$base/config"
    echo "run: profile '$profile' in $base"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "run: no display; start it from a desktop session, or under xvfb-run" >&2
    exit 1
fi
exec build/app/pelorin
