#!/usr/bin/env bash
# Installs what is missing (Debian 12), then configures and builds into build/.
# Usage: scripts/setup.sh [--tests]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools libqt6svg6
          libavformat-dev libavcodec-dev libswresample-dev libavutil-dev libmp3lame-dev libmpg123-dev
          libtag1-dev
          fonts-dejavu-core fonts-wqy-microhei qt6-translations-l10n)
# The tests' tools: GoogleTest, the peers that make and check audio, the desktop and package
# validators, and FAT and ext2 images for the output tests.
test_packages=(libgtest-dev libgmock-dev sox libsox-fmt-mp3 ffmpeg lame python3 mpg123 mp3val
               desktop-file-utils appstream dpkg-dev lintian file time e2fsprogs mount
               fusefat dosfstools)
if [[ "${1:-}" == "--tests" ]]; then
    packages+=("${test_packages[@]}")
fi

if ! command -v apt-get >/dev/null || ! command -v dpkg-query >/dev/null; then
    cat >&2 <<EOF
This script installs what the build needs with apt-get (Debian 12), and this system has none.
Install these packages (Debian names) or your system's equivalents:
  ${packages[*]}
and, for the tests (without GoogleTest the build goes on without them):
  ${test_packages[*]}
then build with:
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build -j"\$(nproc)"
  ctest --test-dir build          # the tests
Without Qt 6, add -DTANDREL_GUI=OFF to build tandrel-join and the engine alone.
EOF
    exit 1
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [[ $(id -u) -eq 0 ]] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

# Without --tests, a build folder that has its tests keeps them.
testing=OFF
if [[ "${1:-}" == "--tests" ]] || grep -qs '^BUILD_TESTING:BOOL=ON' build/CMakeCache.txt; then
    testing=ON
fi
echo "== configuring build/ (tests $testing)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=$testing
echo "== building with $(nproc) jobs (about 5 minutes on 2 cores the first time)"
cmake --build build -j"$(nproc)"
