#!/usr/bin/env bash
# The release archive as a plant takes it: made by cpack from the build, it
# holds the two programs in the component folder and nothing else; unpacked
# over a copy of the demo plant it replaces the programs and leaves every
# plant file, and the component folder's mode and owner, as they were; the
# programs then run from there.
#
# usage: ReleaseArchiveTest.sh BUILD SOURCE VERSION BUILD_TYPE [CPACK]
set -euo pipefail
build=${1:?usage: ReleaseArchiveTest.sh BUILD SOURCE VERSION BUILD_TYPE [CPACK]}
src=${2:?}
version=${3:?}
build_type=${4:?}
cpack=${5:-cpack}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# The archive.
"$cpack" -G TGZ --config "$build/CPackConfig.cmake" -B "$tmp/package" >"$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log"; fail "cpack"; }
archives=("$tmp"/package/*.tar.gz)
[ ${#archives[@]} -eq 1 ] || fail "cpack made ${#archives[@]} archives: ${archives[*]}"
archive=${archives[0]}
name="Torvex_Config-$version-Linux-$(uname -m)"
[ "$build_type" = Release ] || name+="-$build_type"
[ "$(basename "$archive")" = "$name.tar.gz" ] || fail "archive named $(basename "$archive"), not $name.tar.gz"
listing=$(tar -tzf "$archive" | sort)
[ "$listing" = $'Torvex/Torvex_Config\nTorvex/Torvex_ImportJet' ] || fail "the archive holds:"$'\n'"$listing"

# A copy of the demo plant, with older programs in its component folder, which
# a group of operators may write to.
plant=$tmp/plant
mkdir -p "$plant/Standard"
cp -r "$src/sample/plant/." "$plant/"
cp "$src"/sample/pictures/Material_*_800.gif "$src/sample/pictures/Empty_800.gif" "$plant/Standard/"
cp "$src"/sample/pictures/Torvex_BobbinSymbol_*_800.gif "$plant/Torvex/"
cp "$build/sample/Torvex_Source.mdb" "$plant/Torvex/"
echo "an older program" >"$plant/Torvex/Torvex_Config"
echo "an older program" >"$plant/Torvex/Torvex_ImportJet"
chmod 2775 "$plant/Torvex"
[ "$(id -u)" -ne 0 ] || chgrp 65534 "$plant/Torvex"

# Every plant file's content, mode, owner and time, and every folder's mode
# and owner; the programs aside.
snapshot() {
    (cd "$plant" && find . \( -path ./Torvex/Torvex_Config -o -path ./Torvex/Torvex_ImportJet \) -prune -o \
        \( -type d -printf '%p %m %U:%G\n' \) -o \( -printf '%p %m %U:%G %T@ ' -exec sha256sum {} \; \) | sort)
}
before=$(snapshot)
tar -xzf "$archive" -C "$plant"
after=$(snapshot)
[ "$before" = "$after" ] || fail "unpacking changed plant files:"$'\n'"$(diff <(echo "$before") <(echo "$after"))"
for program in Torvex_Config Torvex_ImportJet; do
    tar -xzOf "$archive" "Torvex/$program" | cmp -s - "$plant/Torvex/$program" || fail "$program was not replaced"
    [ -x "$plant/Torvex/$program" ] || fail "$program is not executable"
    # The programs use the system's libraries, never a path into the build.
    ! readelf -d "$plant/Torvex/$program" | grep -E 'R(UN)?PATH' || fail "$program carries a library path"
done

# The README's apt-get line names every package that the programs' libraries
# come from, and the archive of this version.
mkdir -p "$tmp/shlibs/debian"
printf 'Source: torvex\n\nPackage: torvex\nArchitecture: any\n' >"$tmp/shlibs/debian/control"
needed=$(cd "$tmp/shlibs" && dpkg-shlibdeps -O -e"$plant/Torvex/Torvex_Config" -e"$plant/Torvex/Torvex_ImportJet" 2>/dev/null |
    sed -n 's/^shlibs:Depends=//p' | tr ',' '\n' | sed 's/^ *//; s/ .*//')
[ -n "$needed" ] || fail "dpkg-shlibdeps found no packages"
line=" $(grep -m1 '^ *apt-get install ' "$src/README.md") "
for package in $needed; do
    [[ "$line" == *" $package "* ]] || fail "README's apt-get line lacks $package:$line"
done
grep -qF "Torvex_Config-$version-Linux-" "$src/README.md" || fail "README does not name the archive of version $version"

# A silent run from the unpacked program, without a display.
status=0
(cd "$plant" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM PELZO_SERVICEPACK_LOG="$tmp/servicepack.log" \
    ./Torvex/Torvex_Config /EXTERNAL=SILENT) || status=$?
[ "$status" -eq 0 ] || fail "the silent run exited with $status; log: $(cat "$tmp/servicepack.log" 2>/dev/null)"
rows=$(sqlite3 "$plant/Torvex/Torvex.mdb" "SELECT count(*) FROM PRESET_DEFS")
[ "$rows" = 70 ] || fail "the preset database has $rows rows, not 70"

# The import tool from the archive converts a Jet file.
"$plant/Torvex/Torvex_ImportJet" "$src/tests/fixtures/jet/DateTestDatabase.mdb" "$tmp/date.sqlite" >"$tmp/import.log" 2>&1 ||
    { cat "$tmp/import.log"; fail "Torvex_ImportJet"; }
rows=$(sqlite3 "$tmp/date.sqlite" "SELECT count(*) FROM DateTest")
[ "$rows" = 6 ] || fail "the imported table has $rows rows, not 6"
echo "$(basename "$archive") ($(stat -c %s "$archive") bytes): programs replaced, plant untouched, silent run made 70 rows"
