#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Quilvane
# need, when any is missing, and configures and builds the tree.
# Usage: tools/setup.sh [BUILD_DIR] [extra cmake arguments...]
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build}
shift || true

packages=(
    build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev
    qt6-base-dev qt6-wayland libgl-dev libxcb1-dev
    libglib2.0-dev gvfs-backends gvfs-fuse gvfs-daemons dbus dbus-daemon
    libcurl4-openssl-dev libsodium-dev minisign libjpeg62-turbo-dev libcanberra-dev
    sound-theme-freedesktop
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth trayer xdotool imagemagick fonts-dejavu-core
    haskell-gtk-sni-tray-utils libglib2.0-bin
    samba smbclient iproute2 iputils-ping procps nftables
    librsvg2-bin x11-utils libcap2-bin
    dpkg-dev file desktop-file-utils systemd man-db dpkg-repack
    lighttpd lighttpd-mod-openssl openssl curl python3 xdg-utils
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
    echo "Installing missing packages: ${missing[*]}"
    sudo=()
    [[ $(id -u) -eq 0 ]] || sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# QUILVANE_WERROR=ON in the environment (CI sets it) makes warnings errors.
cmake -S "$top" -B "$build" -G Ninja ${QUILVANE_WERROR:+"-DQUILVANE_WERROR=$QUILVANE_WERROR"} "$@" >/dev/null
cmake --build "$build"
