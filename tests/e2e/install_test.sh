#!/usr/bin/env bash
# The client installs like a desktop application: the program in bin/, a valid menu entry,
# the icon in the hicolor theme at each size; and the Debian package names its library
# dependencies and can be installed on this system (checked with apt's simulation).
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

stage="$work/stage"
cmake --install "$build" --prefix "$stage/usr" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install"; }
[[ -x "$stage/usr/bin/qev" ]] || fail "no program in bin/"
desktop="$stage/usr/share/applications/qev.desktop"
[[ -f "$desktop" ]] || fail "no desktop entry"
desktop-file-validate "$desktop" || fail "desktop entry does not validate"
grep -qx 'Name=Velmora Client' "$desktop" || fail "desktop entry name"
grep -qx 'Icon=qev' "$desktop" || fail "desktop entry icon"
grep -q '^Categories=.*Game;' "$desktop" || fail "desktop entry category"
for size in 16 24 32 48 64 128 256; do
  icon="$stage/usr/share/icons/hicolor/${size}x${size}/apps/qev.png"
  [[ -f "$icon" ]] || fail "no ${size}px icon"
  [[ "$(identify -format '%wx%h' "$icon")" == "${size}x${size}" ]] || fail "${size}px icon has another size"
done

(cd "$build" && cpack -G DEB -B "$work/pkg") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb="$(ls "$work"/pkg/*.deb)"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
for lib in libqt6webenginecore6 libqt6widgets6 libcurl4 libtinyxml2.6.2v5 libinih1 libc6 libqt6webenginecore6-bin; do
  grep -Eq "(^|, )$lib( |,|\$)" <<<"$depends" || fail "Depends lacks $lib"
done
dpkg-deb -c "$deb" >"$work/contents"
grep -q '\./usr/bin/qev$' "$work/contents" || fail "package lacks the program"
grep -q '\./usr/share/applications/qev.desktop$' "$work/contents" || fail "package lacks the entry"
grep -q 'hicolor/256x256/apps/qev.png$' "$work/contents" || fail "package lacks the icon"
apt-get install -s -q "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt cannot install the package"; }
echo "install e2e: ok ($(basename "$deb"))"
