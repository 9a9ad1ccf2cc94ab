#!/usr/bin/env bash
# The client installs like a desktop application: the program in bin/, a valid menu entry,
# the icon in the hicolor theme at each size, its AppStream metadata and its manual page;
# the installed program answers --help and --version without a display and refuses an
# unknown option. The Debian package names its library dependencies, carries the build
# version, has the program stripped in /usr/games, passes lintian without an error or a
# warning, and can be installed on this system (checked with apt's simulation).
# Needs the checkers of `scripts/bootstrap packaging`.
source "$(dirname "$0")/runner.sh"
for tool in lintian appstreamcli mandoc; do
  command -v "$tool" >/dev/null || fail "$tool missing: run scripts/bootstrap packaging"
done
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
[[ -n "$version" ]] || fail "no project version in the build's cache"

stage="$work/stage"
cmake --install "$build" --prefix "$stage/usr" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install"; }
program="$stage/usr/bin/qev"
[[ -x "$program" ]] || fail "no program in bin/"
[[ -e "$stage/usr/games" ]] && fail "a plain install has games/"
desktop="$stage/usr/share/applications/qev.desktop"
[[ -f "$desktop" ]] || fail "no desktop entry"
desktop-file-validate "$desktop" || fail "desktop entry does not validate"
grep -qx 'Name=Velmora Client' "$desktop" || fail "desktop entry name"
grep -qx 'Exec=qev' "$desktop" || fail "desktop entry command"
grep -qx 'Icon=qev' "$desktop" || fail "desktop entry icon"
grep -q '^Categories=.*Game;' "$desktop" || fail "desktop entry category"
for size in 16 24 32 48 64 128 256; do
  icon="$stage/usr/share/icons/hicolor/${size}x${size}/apps/qev.png"
  [[ -f "$icon" ]] || fail "no ${size}px icon"
  [[ "$(identify -format '%wx%h' "$icon")" == "${size}x${size}" ]] || fail "${size}px icon has another size"
done

metainfo="$stage/usr/share/metainfo/io.github.qevdev.qev.metainfo.xml"
[[ -f "$metainfo" ]] || fail "no AppStream metadata"
appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 ||
  { cat "$work/appstream.log"; fail "AppStream metadata does not validate"; }
cat "$work/appstream.log"
grep -q '^[EW]:' "$work/appstream.log" && fail "AppStream metadata has errors or warnings"
grep -q "<release version=\"$version\" date=\"[0-9-]*\"" "$metainfo" || fail "AppStream release is not $version"

manual="$stage/usr/share/man/man1/qev.1.gz"
[[ -f "$manual" ]] || fail "no manual page"
mandoc -T lint -W warning "$manual" || fail "the manual page has warnings"
for section in SYNOPSIS DESCRIPTION OPTIONS FILES ENVIRONMENT UPDATES "EXIT STATUS"; do
  zgrep -qx ".Sh $section" "$manual" || fail "the manual page lacks $section"
done

# The installed program, without a display.
# check_run CODE STDOUT STDERR ARGS...: the exit code, and a pattern each output must match
# ("" = the output stays empty).
check_run() {
  local code=0 want="$1" out="$2" err="$3" stream
  shift 3
  env -u DISPLAY -u WAYLAND_DISPLAY "$program" "$@" >"$work/out" 2>"$work/err" || code=$?
  ((code == want)) || fail "qev $* exited $code, not $want"
  for stream in "out:$out" "err:$err"; do
    local file="$work/${stream%%:*}" pattern="${stream#*:}"
    if [[ -z "$pattern" ]]; then
      [[ ! -s "$file" ]] || fail "qev $* wrote to std${stream%%:*}: $(cat "$file")"
    else
      grep -Eq "$pattern" "$file" || fail "qev $* wrote to std${stream%%:*}: $(cat "$file")"
    fi
  done
}
check_run 0 "^qev ${version//./\\.}\$" "" --version
mapfile -t lines <"$work/out"
[[ ${#lines[@]} == 3 && ${lines[1]} =~ ^Qt\ 6\.[0-9] && ${lines[2]} =~ ^web\ engine\ 6\..*\(Chromium\ [0-9] ]] ||
  fail "qev --version does not name its Qt and web engine: ${lines[*]}"
check_run 0 '^Usage: qev' "" --help
check_run 2 "" '^Usage: qev' --bogus

(cd "$build" && cpack -G DEB -B "$work/pkg") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb="$(ls "$work"/pkg/*.deb)"
[[ "$(dpkg-deb -f "$deb" Version)" == "$version" ]] || fail "package version is not $version"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
# Every library the program links, by the name of the package that holds it here (Debian 13
# renamed some), and the engine's helper process, loaded at run time.
multiarch="$(gcc -print-multiarch)"
needed=(libqt6webenginecore6-bin)
for soname in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
  holder="$(dpkg-query -S "*/$multiarch/$soname" 2>/dev/null | sed -n '1s/[:,].*//p')"
  [[ -n "$holder" ]] || fail "no package holds $soname"
  needed+=("$holder")
done
((${#needed[@]} > 10)) || fail "the program links only ${needed[*]}"
names="$(sed 's/^ *//; s/[ (].*//' <<<"${depends//[,|]/$'\n'}")"
for lib in "${needed[@]}"; do
  grep -qxF "$lib" <<<"$names" || fail "Depends lacks $lib"
done
dpkg-deb -c "$deb" >"$work/contents"
for path in usr/games/qev usr/share/applications/qev.desktop usr/share/icons/hicolor/256x256/apps/qev.png \
    usr/share/metainfo/io.github.qevdev.qev.metainfo.xml usr/share/man/man1/qev.1.gz \
    usr/share/doc/qev/copyright usr/share/doc/qev/changelog.gz; do
  grep -q "\./$path\$" "$work/contents" || fail "package lacks $path"
done
grep -q '\./usr/bin/' "$work/contents" && fail "package has a program in /usr/bin"
dpkg-deb -x "$deb" "$work/root"
grep -qx 'Exec=/usr/games/qev' "$work/root/usr/share/applications/qev.desktop" ||
  fail "package's menu entry does not start /usr/games/qev"
readelf -S "$work/root/usr/games/qev" | grep -q '\.debug_' && fail "the packaged program is not stripped"
lint_code=0
lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || lint_code=$?
((lint_code <= 1)) || { cat "$work/lintian.log"; fail "lintian did not run ($lint_code)"; }
echo "lintian: $(grep -c . "$work/lintian.log") lines"
cat "$work/lintian.log"
grep -Eq '^[EW]: ' "$work/lintian.log" && fail "lintian reports errors or warnings"
apt-get install -s -q "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt cannot install the package"; }
echo "install e2e: ok ($(basename "$deb"))"
