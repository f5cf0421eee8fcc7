#!/usr/bin/env bash
# What a packager and a distribution rely on, checked after the tests (CI runs it): the build
# without Qt and its tests, an install into a temporary prefix that runs, the Debian package's
# contents and dependencies, and the desktop entry and metainfo validated.
# Needs a configured and built build/ (scripts/test.sh makes it).
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d "${TMPDIR:-/tmp}/tandrel-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
step() { echo "== $*"; }

step "build without the window (TANDREL_GUI=OFF) into build-nogui/ (about 4 minutes on 2 cores)"
cmake -S . -B build-nogui -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDREL_GUI=OFF >/dev/null
cmake --build build-nogui -j"$(nproc)"
step "its tests (about a minute)"
ctest --test-dir build-nogui -j"$(nproc)" --output-on-failure | tail -3
if grep -q '^Qt6_DIR:' build-nogui/CMakeCache.txt; then
    echo "the build without the window looked for Qt" >&2
    exit 1
fi

step "install into a temporary prefix"
cmake --install build --prefix "$work/prefix" >/dev/null
export XDG_CONFIG_HOME="$work/config"
"$work/prefix/bin/tandrel-join" --version
sox -n -r 44100 -c 2 -b 16 "$work/a.wav" synth 1 sine 440
sox -n -r 22050 -c 1 -b 8 "$work/b.wav" synth 0.5 sine 660
"$work/prefix/bin/tandrel-join" -q -o "$work/ab.mp3" "$work/a.wav" "$work/b.wav"
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/ab.mp3")
echo "installed tandrel-join joined $duration s"
awk -v d="$duration" 'BEGIN { exit !(d > 1.45 && d < 1.6) }'
shown=$(cd "$work" && QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 LANGUAGE= TANDREL_SMOKE_TEST=1 \
    "$work/prefix/bin/tandrel" 2>/dev/null)
echo "installed tandrel showed: $(echo "$shown" | tr '\n' ' ')"
[ "$(echo "$shown" | sed -n 2p)" = "Join" ]
[ -f "$XDG_CONFIG_HOME/tandrel/Tandrel.ini" ]

step "Debian package, built and installed by scripts/install-deb.sh (as root: no sudo needed)"
bash scripts/install-deb.sh
deb=$(ls build/tandrel_*_*.deb)
dpkg-deb -I "$deb" | grep -E '^ (Package|Version|Depends|Recommends):'
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/tandrel ./usr/bin/tandrel-join ./usr/lib/tandrel/lame_enc.so \
    ./usr/lib/tandrel/wmaudsdk.so ./usr/share/tandrel/TDLanguage/English.ini \
    ./usr/share/applications/tandrel.desktop ./usr/share/icons/hicolor/scalable/apps/tandrel.svg \
    ./usr/share/icons/hicolor/48x48/apps/tandrel.png \
    ./usr/share/metainfo/org.example.tandrel.Tandrel.metainfo.xml \
    ./usr/share/man/man1/tandrel.1.gz ./usr/share/man/man1/tandrel-join.1.gz \
    ./usr/share/doc/tandrel/copyright ./usr/share/doc/tandrel/changelog.Debian.gz \
    ./usr/share/bash-completion/completions/tandrel-join; do
    echo "$contents" | grep -qx "$f" || { echo "missing from the package: $f" >&2; exit 1; }
done
dpkg-query -W -f='installed: ${Package} ${Version}\n' tandrel
/usr/bin/tandrel-join --version
step "lintian"
lintian --fail-on error "$deb"
echo "lintian: no error"
apt-get remove -y -qq tandrel >/dev/null
for lib in libqt6widgets6 libavformat59 libmp3lame0 libmpg123-0 libqt6svg6; do
    dpkg-deb -f "$deb" Depends | grep -q "$lib" || { echo "no dependency on $lib" >&2; exit 1; }
done

step "desktop entry and metainfo"
desktop-file-validate data/tandrel.desktop
appstreamcli validate --no-net data/org.example.tandrel.Tandrel.metainfo.xml
echo "all install checks passed"
