#!/usr/bin/env bash
# Builds the release a plant takes: Torvex_Config and Torvex_ImportJet, built
# Release, in an archive laid out as the component folder
# (build-release/Torvex_Config-<version>-Linux-<arch>.tar.gz). Unpacked in a
# plant folder it replaces the programs and nothing else.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/install-deps.sh

build=build-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTORVEX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target Torvex_Config Torvex_ImportJet
# Prints the archive's path.
(cd "$build" && cpack -G TGZ) | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p'
