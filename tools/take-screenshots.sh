#!/usr/bin/env bash
# Takes the screenshots in docs/ under a virtual X server: the window with a
# long machine name, in info mode, and at scale factor 2. Xvfb, ImageMagick
# and xdotool are developer tools for this script only; they are installed
# here when missing. Usage: tools/take-screenshots.sh [BUILD-FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

if [ -z "${TORVEX_SCREENSHOT_PLANT:-}" ]; then
    missing=()
    command -v xvfb-run >/dev/null || missing+=(xvfb xauth)
    command -v import >/dev/null || missing+=(imagemagick)
    command -v xdotool >/dev/null || missing+=(xdotool)
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing missing developer tools: ${missing[*]}"
        sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
    cmake --build "$build" --target Torvex_Config Torvex_ImportJet sample_template >/dev/null
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    tools/lay-out-demo-plant.sh "$work/plant" "$build"
    sed -i 's/^MachineName=Flowpack 1\r\?$/MachineName=Schlauchbeutelmaschine Linie 12 Nord (Halle B)\r/' \
        "$work/plant/parameter/Program.ini"
    export TORVEX_SCREENSHOT_PLANT=$work/plant
    export PELZO_SERVICEPACK_LOG=$work/PelzoServicePack.log
    exec xvfb-run -a -s "-screen 0 1600x1400x24" "$0" "$build"
fi

# Inside the virtual X server.
program=$TORVEX_SCREENSHOT_PLANT/Torvex/Torvex_Config

# shot SCALE FILE [info]: starts the window at SCALE, optionally clicks ?, and
# saves the window's picture as docs/FILE.
shot() {
    local scale=$1 file=$2 info=${3:-}
    QT_SCALE_FACTOR=$scale "$program" &
    local pid=$!
    local window
    window=$(xdotool search --sync --onlyvisible --name "Erweiterte Konfiguration" | head -1)
    sleep 1
    if [ -n "$info" ]; then
        # The middle of the ? button, in the window's pixels.
        xdotool mousemove --window "$window" "$(awk "BEGIN { print int(522 * $scale) }")" \
            "$(awk "BEGIN { print int(542 * $scale) }")" click 1
        xdotool mousemove 1590 1390
        sleep 1
    fi
    import -window "$window" "docs/$file"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "docs/$file"
}

shot 1 window-long-name.png
shot 1 window-info-mode.png info
shot 2 window-scale2.png
