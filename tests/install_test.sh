#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build into a scratch prefix and checks the tree a desktop sees: every file in
# its place, the menu entry and the AppStream data valid, the icons the sizes their folders
# say, the manual pages clean, the programs answering from where they were installed.
#   install_test.sh BUILD_DIR APP_ID VERSION
set -uo pipefail
build=$1 id=$2 version=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1; then
    cat "$prefix.log"; rm -f "$prefix.log"
    echo "FAIL: cmake --install"; exit 1
fi
rm -f "$prefix.log"

sizes=(16 22 24 32 48 64 128 256)
expected=(
    bin/checkkorvelt bin/checkkorvelt-demo bin/zandrel-sim
    "share/applications/$id.desktop"
    "share/metainfo/$id.metainfo.xml"
    "share/icons/hicolor/scalable/apps/$id.svg"
    share/man/man1/checkkorvelt.1.gz share/man/man1/checkkorvelt-demo.1.gz
    share/man/man1/zandrel-sim.1.gz
    share/doc/checkkorvelt/README.md share/doc/checkkorvelt/LICENSE
    share/doc/checkkorvelt/copyright share/doc/checkkorvelt/changelog.gz
)
for s in "${sizes[@]}"; do expected+=("share/icons/hicolor/${s}x${s}/apps/$id.png"); done
for f in "${expected[@]}"; do [ -s "$prefix/$f" ] || fail "missing or empty: $f"; done
for f in bin/checkkorvelt bin/checkkorvelt-demo bin/zandrel-sim; do
    [ -x "$prefix/$f" ] || fail "not executable: $f"
done

desktop="$prefix/share/applications/$id.desktop"
if [ -f "$desktop" ]; then
    out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
    [ -z "$out" ] || fail "desktop-file-validate says: $out"
    # The entry starts a program that is installed, under an icon that is installed.
    exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    [ -x "$prefix/bin/$exec_name" ] || fail "Exec=$exec_name is not an installed program"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    [ "$icon" = "$id" ] || fail "Icon=$icon, not $id"
fi

metainfo="$prefix/share/metainfo/$id.metainfo.xml"
if [ -f "$metainfo" ]; then
    out=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $out"
    grep -q "<id>$id</id>" "$metainfo" || fail "metainfo id is not $id"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "metainfo does not launch $id.desktop"
    grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo has no release $version"
    grep -Eq '<image>https://[^<]+\.png</image>' "$metainfo" || fail "metainfo has no screenshot"
fi

# Each PNG is the size its folder names, with colour and transparency, and not blank.
for s in "${sizes[@]}"; do
    png="$prefix/share/icons/hicolor/${s}x${s}/apps/$id.png"
    [ -f "$png" ] || continue
    info=$(file -b "$png")
    [[ "$info" == "PNG image data, $s x $s, 8-bit/color RGBA"* ]] || fail "$png: $info"
    [ "$(stat -c %s "$png")" -gt 100 ] || fail "$png looks blank"
done
svg="$prefix/share/icons/hicolor/scalable/apps/$id.svg"
[ -f "$svg" ] && { grep -q '<svg' "$svg" && grep -q 'viewBox="0 0 32 32"' "$svg"; } ||
    fail "$svg is not the 32-unit drawing"

# The manual pages render without a warning, as lintian reads them.
for page in checkkorvelt checkkorvelt-demo zandrel-sim; do
    f="$prefix/share/man/man1/$page.1.gz"
    [ -f "$f" ] || continue
    out=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$f" 2>&1 >/dev/null)
    [ -z "$out" ] || fail "$page.1: $out"
    zcat "$f" | grep -q "^\.TH .*\"Check Korvelt $version\"" || fail "$page.1 is not for $version"
done

# The changelog's latest entry is this version: Debian reads the package's version there.
top=$(zcat "$prefix/share/doc/checkkorvelt/changelog.gz" 2>/dev/null | head -n1)
[[ "$top" == "checkkorvelt ($version) "* ]] || fail "changelog starts with '$top', not $version"

# The installed programs run from the install tree, without a display.
for p in checkkorvelt checkkorvelt-demo zandrel-sim; do
    [ -x "$prefix/bin/$p" ] || continue
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/$p" --version 2>&1)
    [ "$out" = "$p $version" ] || fail "$p --version: $out"
done

if [ "$failures" -gt 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "install tree of ${#expected[@]} files checked"
