#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need, but
# only those that are missing. Sourced by ./test.sh and ./run.sh.
set -euo pipefail

TORVEX_PACKAGES=(
    cmake g++ ninja-build pkg-config
    libsqlite3-dev libicu-dev sqlite3
    libgtest-dev libgmock-dev libbenchmark-dev
    clang-format
    qt6-base-dev libgl-dev fonts-liberation2
    mdbtools mdbtools-dev
    clang libclang-rt-14-dev
)

torvex_install_missing() {
    local missing=()
    for pkg in "${TORVEX_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

torvex_install_missing
