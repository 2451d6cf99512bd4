#!/usr/bin/env bash
# Installs the Debian packages Kalvor needs to build, test and run, skipping those present.
# Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
    cmake make g++ pkg-config
    qt6-base-dev qt6-serialport-dev qt6-svg-dev libgl-dev
    libqt6svgwidgets6 qt6-qpa-plugins
    fonts-dejavu-core
    xvfb xauth socat iproute2 procps
    clang-format
    desktop-file-utils appstream
)
if [ "${KALVOR_DEPS_EXTRA:-}" != "" ]; then
    read -r -a extra <<<"$KALVOR_DEPS_EXTRA"
    packages+=("${extra[@]}")
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null; then
    sudo=(sudo)
else
    echo "These packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
