#!/usr/bin/env bash
# Checks on a minimal Debian 12 (debootstrap --variant=minbase bookworm) what
# the README promises for the two kinds of machine it names:
#
#   plant      the plant PC: the README's apt-get line, run as written by
#              root, installs what the programs need; the release archive,
#              unpacked over a demo plant, makes a silent run, and a window
#              run on a virtual X server (started here, its socket bound into
#              the root) is drawn in the window's font, its Cancel question
#              too (screenshots), with nothing on standard error;
#   developer  a new developer's machine: a fresh root with only git and
#              ca-certificates, the sources cloned, the README's two commands
#              (./run.sh without a display, then ./test.sh) run by root with
#              LANG unset; before that, ./run.sh by an account without root
#              and without sudo must stop at once, naming the missing packages.
#
# Run by hand, as root, on a Debian machine that reaches a package mirror
# (DEBIAN_MIRROR, default deb.debian.org). The plant part takes a few
# minutes; the developer part builds and runs every test in the root (about a
# quarter of an hour on 2 cores). Not part of ./test.sh.
#
# usage: tools/check-minimal-debian.sh [plant|developer|all] [OUTPUT-FOLDER]
#   TORVEX_RELEASE_ARCHIVE=FILE  use this archive (made by tools/make-release.sh, whose
#                                build-release/ lays out the demo plant) instead of making it
#   TORVEX_MINIMAL_ROOT=DIR      copy this untouched minimal root instead of running debootstrap
# Everything it saw (logs, screenshots, a summary) goes to OUTPUT-FOLDER,
# default /var/tmp/torvex-minimal-debian-<date>-<time>.
set -euo pipefail
parts=${1:-all}
case "$parts" in plant | developer | all) ;; *)
    echo "usage: $0 [plant|developer|all] [OUTPUT-FOLDER]" >&2
    exit 2
    ;;
esac
src=$(cd "$(dirname "$0")/.." && pwd)
out=${2:-/var/tmp/torvex-minimal-debian-$(date +%Y%m%d-%H%M%S)}
mkdir -p "$out"
out=$(cd "$out" && pwd)
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
[ "$(id -u)" -eq 0 ] || {
    echo "$0: run me as root (debootstrap, chroot and mounts need it)" >&2
    exit 2
}

# Tools on this machine: debootstrap, the virtual X server, screenshots and clicks.
missing=()
command -v debootstrap >/dev/null || missing+=(debootstrap)
command -v Xvfb >/dev/null || missing+=(xvfb)
command -v xdotool >/dev/null || missing+=(xdotool)
command -v import >/dev/null || missing+=(imagemagick)
command -v sqlite3 >/dev/null || missing+=(sqlite3)
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing missing tools: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

work=$(mktemp -d /var/tmp/torvex-roots.XXXXXX)
xvfb_pid=""
mounted=()
cleanup() {
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount -R "${mounted[i]}" 2>/dev/null || umount -R -l "${mounted[i]}" || true
    done
    # Never remove anything while a mount is left inside the roots.
    if grep -q " $work/" /proc/mounts; then
        echo "$0: mounts left under $work; not removed" >&2
    else
        rm -rf --one-file-system "$work"
    fi
}
trap cleanup EXIT

summary=$out/summary.txt
: >"$summary"
note() { echo "$*" | tee -a "$summary"; }
fail() {
    note "FAILED: $*"
    exit 1
}

# mount_in ROOT: what a chroot needs to install packages and run programs.
mount_in() {
    local root=$1
    local what
    mount -t proc proc "$root/proc"
    mounted+=("$root/proc")
    for what in dev sys; do
        mount --rbind "/$what" "$root/$what"
        # Only a slave is unmounted with -R: on a shared copy that would
        # unmount the machine's own /dev/pts and the like too.
        mount --make-rslave "$root/$what"
        mounted+=("$root/$what")
    done
    # A link there (a root copied from elsewhere) would lead the copy out of the root.
    cp --remove-destination /etc/resolv.conf "$root/etc/resolv.conf"
}
# in_root ROOT COMMAND...: runs a shell command in ROOT as root, with no locale
# and no display, as a fresh login would have it.
in_root() {
    local root=$1
    shift
    chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root TERM=dumb "$@"
}

echo "Output: $out"
echo "== a minimal Debian 12 root =="
if [ -n "${TORVEX_MINIMAL_ROOT:-}" ]; then
    cp -a "$TORVEX_MINIMAL_ROOT" "$work/base"
else
    debootstrap --variant=minbase bookworm "$work/base" "$mirror" >"$out/debootstrap.log" 2>&1 ||
        fail "debootstrap; see $out/debootstrap.log"
fi
note "minimal root: $(chroot "$work/base" dpkg-query -W -f='.\n' | wc -l) packages, no sudo: $(chroot "$work/base" sh -c 'command -v sudo || echo yes')"

check_plant() {
    local root=$work/plant
    cp -a "$work/base" "$root"
    mount_in "$root"

    echo "== plant PC: the README's apt-get line, as written, by root =="
    local line
    line=$(grep -m1 -E '^ +apt-get install ' "$src/README.md" | sed 's/^ *//')
    [ -n "$line" ] || fail "README has no plant line beginning with apt-get install"
    note "plant line: $line"
    local before
    before=$(chroot "$root" dpkg-query -W -f='.\n' | wc -l)
    # The line asks before it installs; the operator answers yes.
    (yes || true) | in_root "$root" DEBIAN_FRONTEND=noninteractive /bin/sh -c "$line" >"$out/plant-apt.log" 2>&1 ||
        fail "the plant line; see $out/plant-apt.log"
    note "the plant line installed $(($(chroot "$root" dpkg-query -W -f='.\n' | wc -l) - before)) packages"
    note "fonts: $(cd "$root/usr/share/fonts" && find . -name '*.ttf' -printf '%f ' | head -c 400)"

    echo "== the release archive over a demo plant =="
    local archive=${TORVEX_RELEASE_ARCHIVE:-}
    if [ -z "$archive" ]; then
        archive=$("$src/tools/make-release.sh" | tail -1)
    fi
    [ -f "$archive" ] || fail "no release archive ($archive)"
    note "archive: $archive"
    # The demo plant (its template built from the script in the release
    # build), without programs; then the archive brings them.
    cmake --build "$src/build-release" --target sample_template >/dev/null
    "$src/tools/lay-out-demo-plant.sh" "$root/plant" "$src/build-release"
    sed -i "s|$root/plant|/plant|" "$root/plant/parameter/hx5configuration.ini"
    rm "$root/plant/Torvex/Torvex_Config" "$root/plant/Torvex/Torvex_ImportJet"
    tar -xzf "$archive" -C "$root/plant"
    tar -xzOf "$archive" Torvex/Torvex_Config | cmp -s - "$root/plant/Torvex/Torvex_Config" ||
        fail "Torvex_Config is not the archive's"

    echo "== silent run, from another folder =="
    local status=0
    in_root "$root" /bin/sh -c 'cd / && /plant/Torvex/Torvex_Config /EXTERNAL=SILENT' \
        >"$out/silent.stdout" 2>"$out/silent.stderr" || status=$?
    note "silent run: exit $status; standard error: $(wc -c <"$out/silent.stderr") bytes;" \
        "service-pack log: $(tr -d '\r' <"$root/var/log/PelzoServicePack.log" 2>/dev/null)"
    [ "$status" -eq 0 ] || fail "the silent run exited with $status"
    [ ! -s "$out/silent.stderr" ] || fail "the silent run wrote to standard error"
    local rows
    rows=$(sqlite3 "$root/plant/Torvex/Torvex.mdb" "SELECT count(*) FROM PRESET_DEFS")
    [ "$rows" = 70 ] || fail "the preset database has $rows rows, not 70"
    note "preset database: $rows rows"

    echo "== window run on a virtual X server =="
    local display=
    for n in $(seq 70 99); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || {
            display=$n
            break
        }
    done
    [ -n "$display" ] || fail "no free X display number"
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        [ -S "/tmp/.X11-unix/X$display" ] && break
        sleep 0.1
    done
    [ -S "/tmp/.X11-unix/X$display" ] || fail "Xvfb did not start; see $out/xvfb.log"
    export DISPLAY=:$display
    mkdir -p "$root/tmp/.X11-unix"
    mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix" && mounted+=("$root/tmp/.X11-unix")
    # The window as a root shell starts it: no XDG_RUNTIME_DIR, no locale.
    in_root "$root" DISPLAY=":$display" /bin/sh -c 'cd / && exec /plant/Torvex/Torvex_Config' \
        >"$out/window.stdout" 2>"$out/window.stderr" &
    local window_pid=$! window
    window=$(timeout 30 xdotool search --sync --onlyvisible --name "Erweiterte Konfiguration" | head -1) ||
        fail "the window did not come up; standard error: $(cat "$out/window.stderr")"
    sleep 2
    import -window "$window" "$out/window.png"
    # Cancel (the middle of its button, in the window's pixels) asks first.
    xdotool mousemove --window "$window" 734 542 click 1
    local box
    box=$(timeout 15 xdotool search --sync --onlyvisible --name "^Cancel\?$" | head -1) ||
        fail "no Cancel question"
    sleep 1
    import -window "$box" "$out/cancel-question.png"
    import -window root "$out/screen-with-question.png"
    # Yes ends the run without writing anything.
    xdotool key --window "$box" alt+y
    status=0
    timeout 20 tail --pid="$window_pid" -f /dev/null || fail "the window did not end after Cancel"
    wait "$window_pid" || status=$?
    note "window run: exit $status after Cancel; standard error: $(wc -c <"$out/window.stderr") bytes"
    [ ! -s "$out/window.stderr" ] || fail "the window run wrote to standard error: $(cat "$out/window.stderr")"
    grep -q "Konfigurations-EXE wurde abgebrochen" "$root/plant/HX5cfglog.txt" ||
        fail "the Cancel was not logged"
    note "screenshots: $out/window.png $out/cancel-question.png $out/screen-with-question.png"
    kill "$xvfb_pid"
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
    unset DISPLAY
}

check_developer() {
    local root=$work/developer
    cp -a "$work/base" "$root"
    mount_in "$root"
    echo "== developer: a fresh root with git and ca-certificates =="
    in_root "$root" DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        git ca-certificates >"$out/developer-apt.log" 2>&1 || fail "git; see $out/developer-apt.log"
    # The committed sources, cloned as from the project's repository.
    git -C "$src" bundle create "$root/tmp/torvex.bundle" HEAD >/dev/null 2>&1
    in_root "$root" git clone -q /tmp/torvex.bundle /src/Torvex_Config >"$out/clone.log" 2>&1 ||
        fail "git clone; see $out/clone.log"
    local before
    before=$(chroot "$root" dpkg-query -W -f='.\n' | wc -l)

    echo "== ./run.sh by an account without root and without sudo =="
    local status=0
    chroot --userspec=65534:65534 "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/tmp \
        /bin/sh -c 'cd /src/Torvex_Config && ./run.sh' >"$out/unprivileged.stdout" 2>"$out/unprivileged.stderr" ||
        status=$?
    note "unprivileged ./run.sh: exit $status; $(head -1 "$out/unprivileged.stderr")"
    [ "$status" -ne 0 ] && grep -q "needs root or sudo" "$out/unprivileged.stderr" ||
        fail "./run.sh without root and sudo did not say what it needs"

    echo "== ./run.sh, no display, LANG unset =="
    local start=$SECONDS
    in_root "$root" /bin/sh -c 'cd /src/Torvex_Config && ./run.sh' >"$out/run.log" 2>&1 ||
        fail "./run.sh; see $out/run.log"
    note "./run.sh: passed in $((SECONDS - start)) s; it installed $(($(chroot "$root" dpkg-query -W -f='.\n' | wc -l) - before)) packages"

    echo "== ./test.sh, LANG unset (long) =="
    start=$SECONDS
    in_root "$root" /bin/sh -c 'cd /src/Torvex_Config && ./test.sh' >"$out/test.log" 2>&1 ||
        fail "./test.sh; see $out/test.log"
    note "./test.sh: passed in $((SECONDS - start)) s; $(grep -c 'tests passed, 0 tests failed' "$out/test.log") suites;" \
        "build folders: $(du -shc "$root"/src/Torvex_Config/build* | tail -1 | cut -f1);" \
        "packages in all: $(($(chroot "$root" dpkg-query -W -f='.\n' | wc -l) - before)) over the minimal root with git"
}

[ "$parts" = developer ] || check_plant
[ "$parts" = plant ] || check_developer
note "PASSED ($parts)"
