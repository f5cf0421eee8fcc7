#!/usr/bin/env bash
# Builds the Debian package of the program and installs it with apt-get: as root directly,
# otherwise through sudo.
set -euo pipefail
cd "$(dirname "$0")/.."
as_root=()
if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null; then
        echo "Installing a package needs root: run this as root, or install sudo." >&2
        exit 1
    fi
    as_root=(sudo)
fi
scripts/setup.sh
echo "== building the Debian package (cpack)"
rm -f build/tandrel_*.deb
(cd build && cpack -G DEB)
deb=$(ls "$PWD"/build/tandrel_*_*.deb)
echo "== installing $deb"
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y "$deb"
