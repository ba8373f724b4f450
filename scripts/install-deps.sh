#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    libboost-dev libpng-dev libjpeg62-turbo-dev
    qt6-base-dev qt6-multimedia-dev libgl-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    clang-14 libclang-rt-14-dev clang-format-14
    fonts-ipafont-gothic unrtf locales
    libsodium-dev libssl-dev libminiupnpc-dev qt6-translations-l10n
    desktop-file-utils appstream
    iproute2
    ccache socat
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
