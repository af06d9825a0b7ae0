#!/usr/bin/env bash
# Lays the demo plant out under DEST: the sample files (only where missing, so
# that edits made in an earlier run stay), the pictures, the template database
# built in BUILD, and the program installed in its component folder.
set -euo pipefail
dest=${1:?usage: lay-out-demo-plant.sh DEST BUILD}
build=${2:?usage: lay-out-demo-plant.sh DEST BUILD}
src=$(cd "$(dirname "$0")/.." && pwd)

mkdir -p "$dest/parameter" "$dest/Standard" "$dest/Torvex" "$dest/SaveAndRestore"
cp -rn "$src/sample/plant/." "$dest/"
cp -n "$src"/sample/pictures/Material_*_800.gif "$src/sample/pictures/Empty_800.gif" "$dest/Standard/"
cp -n "$src"/sample/pictures/Torvex_BobbinSymbol_*_800.gif "$dest/Torvex/"
cp -n "$build/sample/Torvex_Source.mdb" "$dest/Torvex/"
cmake --install "$build" --prefix "$dest" >/dev/null
sed -i "s|@PLANT@|$(cd "$dest" && pwd)|" "$dest/parameter/hx5configuration.ini"
