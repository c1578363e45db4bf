#!/bin/sh
# Installs every Debian package Pelorin needs to build, run and test.
# Packages already present are skipped so that a warm run costs a second.
set -eu

PACKAGES="
cmake ninja-build g++ pkg-config
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
libsecp256k1-dev libcrypto++-dev libqrcodegencpp-dev libzbar-dev libssl-dev
libbenchmark-dev
gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
pulseaudio xvfb xauth curl
fonts-wqy-microhei
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    echo "setup: installing$missing"
    SUDO=""
    if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
else
    echo "setup: all packages present"
fi
