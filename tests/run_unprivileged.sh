#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a test binary as an unprivileged user, for the checks that root passes by right
# (permission denied, another program's exclusive open). Copies the binary to a folder that
# user can reach, wherever the build tree lives. Exit 77 (skipped) when not root: the normal
# run already makes these checks then.
set -eu
[ "$(id -u)" -eq 0 ] || exit 77
binary=$1
shift
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$binary" "$dir/test"
chmod 755 "$dir" "$dir/test"
cd "$dir"
exec setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$dir" "$dir/test" "$@"
