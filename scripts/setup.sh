#!/bin/sh
# Installs every Debian package Pelorin needs to build, run and test.
# Packages already present are skipped so that a warm run costs a second.
set -eu

PACKAGES="
cmake ninja-build g++ pkg-config ccache
qt6-base-dev qt6-declarative-dev qt6-multimedia-dev qt6-websockets-dev
qt6-httpserver-dev qt6-5compat-dev qt6-svg-dev qt6-tools-dev
libqt6sql6-sqlite libsqlite3-dev libqt6svg6
qml6-module-qtqml qml6-module-qtqml-models qml6-module-qtquick
qml6-module-qtquick-controls qml6-module-qtquick-layouts
qml6-module-qtquick-window qml6-module-qtquick-dialogs
qml6-module-qtqml-workerscript qml6-module-qtquick-templates
qml6-module-qt5compat-graphicaleffects qml6-module-qt-labs-settings
qml6-module-qt-labs-folderlistmodel qml6-module-qtcore
qml6-module-qtmultimedia qml6-module-qttest qml6-module-qtquick-shapes
libsecp256k1-dev libcrypto++-dev libqrcodegencpp-dev libzbar-dev libssl-dev openssl libpng-dev
libbenchmark-dev libprotobuf-dev protobuf-compiler
libx11-dev libxcb1-dev libglib2.0-dev
libavcodec-dev libavformat-dev libavutil-dev libswresample-dev
gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
pulseaudio xvfb xauth curl iproute2
fonts-wqy-microhei fonts-noto-color-emoji
"

# One query for all of them: a package dpkg does not know, or knows but has
# not installed, is missing.
installed=" $(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' $PACKAGES 2>/dev/null | awk '$2 == "ii" { printf "%s ", $1 }')"
missing=""
for p in $PACKAGES; do
    case "$installed" in
        *" $p "*) ;;
        *) missing="$missing $p" ;;
    esac
done
# npm fetches the voice-room library below; a machine without it gets
# Debian's Node.js and npm (a Node.js from elsewhere brings its own npm).
if ! command -v npm >/dev/null 2>&1; then missing="$missing nodejs npm"; fi

if [ -n "$missing" ]; then
    echo "setup: installing$missing (a fresh machine: a few minutes)"
    SUDO=""
    if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
    $SUDO apt-get update -q >/dev/null
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing \
        >/tmp/pelorin-setup.$$.log 2>&1 || { tail -n 30 /tmp/pelorin-setup.$$.log >&2; exit 1; }
    rm -f /tmp/pelorin-setup.$$.log
    echo "setup: installed"
else
    echo "setup: all packages present"
fi

# The LiveKit client FFI library for voice rooms, fetched from npm by name and
# version and checked against its known digest; it lands in a git-ignored
# folder where the program looks for it. Without it voice rooms say they are
# unavailable and everything else works.
LIVEKIT_PACKAGE="@livekit/rtc-ffi-bindings-linux-x64-gnu@0.12.73"
LIVEKIT_SHA256="409b9e1f32b5430df0f047044857c068c484a3e55085a33ddb5a7029db8c5e00"
LIVEKIT_DIR="$(cd "$(dirname "$0")/.." && pwd)/third_party/livekit-ffi/lib"
LIVEKIT_LIB="$LIVEKIT_DIR/rtc-node.linux-x64-gnu.node"
if [ ! -f "$LIVEKIT_LIB" ]; then
    echo "setup: fetching $LIVEKIT_PACKAGE"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    (cd "$work" && npm pack --silent "$LIVEKIT_PACKAGE" >/dev/null)
    tarball=$(ls "$work"/*.tgz)
    if ! echo "$LIVEKIT_SHA256  $tarball" | sha256sum -c --quiet -; then
        echo "setup: $LIVEKIT_PACKAGE does not match its sha256; not installed" >&2
        exit 1
    fi
    tar -xzf "$tarball" -C "$work" package/rtc-node.linux-x64-gnu.node
    mkdir -p "$LIVEKIT_DIR"
    mv "$work/package/rtc-node.linux-x64-gnu.node" "$LIVEKIT_LIB.part"
    mv "$LIVEKIT_LIB.part" "$LIVEKIT_LIB"
else
    echo "setup: LiveKit FFI library present"
fi
