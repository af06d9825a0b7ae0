#!/usr/bin/env bash
# Installs what is missing, builds, lays the demo plant out under
# build/demo-plant/ and starts the window on it. Without a display it runs
# the silent mode instead and says where the results are.
set -euo pipefail
cd "$(dirname "$0")"
source tools/install-deps.sh

# The same build type as ./test.sh gives build/, so that neither rebuilds it all.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target Torvex_Config Torvex_ImportJet sample_template
plant=build/demo-plant
tools/lay-out-demo-plant.sh "$plant" build
export PELZO_SERVICEPACK_LOG=${PELZO_SERVICEPACK_LOG:-$PWD/$plant/PelzoServicePack.log}

cd "$plant"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec ./Torvex/Torvex_Config "$@"
fi
echo "No display: running the silent mode on the demo plant."
status=0
./Torvex/Torvex_Config /EXTERNAL=SILENT || status=$?
echo "Exit status $status. Results in $PWD:"
echo "  parameter/Program.ini        the bobbin settings of every enabled machine"
echo "  Torvex/Torvex.cfg            the edit record, section [Info]"
echo "  Torvex/Torvex.mdb            the regenerated preset database (table PRESET_DEFS)"
echo "  $PELZO_SERVICEPACK_LOG and HX5cfglog.txt    messages and failures, if any"
exit $status
