#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need, but
# only those that are missing. Sourced by ./test.sh and ./run.sh.
set -euo pipefail

# Each line names who needs it.
TORVEX_PACKAGES=(
    cmake g++ ninja-build pkg-config # the build; cpack comes with cmake
    libsqlite3-dev libicu-dev        # the preset database and its case folding
    sqlite3                          # builds the demo template from sample/Torvex_Source.sql
    qt6-base-dev libgl-dev           # the window (Qt's CMake package looks for OpenGL)
    fonts-liberation2                # the font the window asks for; the window tests measure captions in it
    mdbtools-dev                     # Torvex_ImportJet reads Jet files with libmdb
    mdbtools                         # importjet_tests compare with mdb-tables, mdb-count, mdb-export
    libgtest-dev                     # the tests
    clang-format                     # ./test.sh's format check
    dpkg-dev                         # the release test: dpkg-shlibdeps finds the programs' run-time packages
    clang libclang-rt-14-dev         # ./test.sh's fuzzing (libFuzzer and the sanitizers for clang)
)

torvex_install_missing() {
    local missing=()
    for pkg in "${TORVEX_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            {
                echo "$0 needs root or sudo to install these missing Debian packages, and has neither:"
                echo "    ${missing[*]}"
                echo "Install them as root with"
                echo "    apt-get install ${missing[*]}"
                echo "(or set up sudo for this account), then run $0 again."
            } >&2
            exit 1
        fi
        sudo="sudo"
    fi
    echo "Installing missing packages: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

torvex_install_missing
