#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The installer under Wine, silently: every file of the program folder lands under Program
# Files, the Start-menu entries and the uninstall entry are made for all users; the
# uninstaller then takes away exactly what was installed.
#   installer.sh SETUP_EXE DEPLOY_DIR      (WINEPREFIX set)
set -euo pipefail
setup=$1
deploy=$2
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$setup" ] || { echo "no $setup: build the target windows-installer first" >&2; exit 1; }

fail() { echo "FAIL: $*" >&2; exit 1; }
dir="$WINEPREFIX/drive_c/Program Files/Check Korvelt"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Check Korvelt"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\CheckKorvelt'
listing() { (cd "$1" && find . -type f ! -name uninstall.exe | sort); }

echo "== install"
wine "$setup" /S
[ -d "$dir" ] || fail "nothing under Program Files"
diff <(listing "$deploy") <(listing "$dir") || fail "the installed files are not the program folder"
while read -r f; do
    cmp "$deploy/$f" "$dir/$f" || fail "$f differs from the program folder's"
done < <(listing "$deploy")
echo "$(listing "$dir" | wc -l) files, each the program folder's"
[ -f "$dir/uninstall.exe" ] || fail "no uninstaller"
for link in "Check Korvelt.lnk" "Check Korvelt Demo.lnk"; do
    [ -f "$menu/$link" ] || fail "no Start-menu entry $link for all users"
done
echo "Start-menu entries: $(cd "$menu" && ls | tr '\n' ' ')"
wine reg query "$key" /v DisplayName | grep -q "Check Korvelt" || fail "no uninstall entry"
wine reg query "$key" /v DisplayIcon | grep -qi 'checkkorvelt.exe,0' || fail "no icon in the entry"

echo "== uninstall"
# In place (_?=), so it ends before this script goes on; it leaves itself and its folder.
# NSIS takes the folder unquoted to the end of the command line, hence the split words.
in_place=('_?=C:\Program' 'Files\Check' 'Korvelt')
wine "$dir/uninstall.exe" /S "${in_place[@]}"
[ -z "$(listing "$dir")" ] || fail "left behind: $(listing "$dir" | tr '\n' ' ')"
[ ! -e "$menu" ] || fail "the Start-menu entries are still there"
if wine reg query "$key" >/dev/null 2>&1; then fail "the uninstall entry is still there"; fi
echo "PASS"
