#!/bin/sh
# The Debian package, as a player gets it: built with CPack from this build,
# it holds the installed files and nothing else, lintian finds no errors, and
# unpacked into a scratch root the program starts from there (under
# xvfb-run), shows its window, keeps its scores in the data folder the menu
# entry asks for, and ends on ESC with status 0.
build=$1
. "$(dirname "$0")/find_window.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$1"; [ -f "$work/stdout.txt" ] && cat "$work/stdout.txt"; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" > "$work/cpack.txt" 2>&1 ||
  { cat "$work/cpack.txt"; fail "cpack failed"; }
deb=$(ls "$work"/pkg/zephrant_*.deb)
[ -f "$deb" ] || fail "no package"
dpkg-deb -f "$deb" Depends | grep -q "libsdl2-2.0-0" || fail "no dependencies from the libraries"

dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort > "$work/files.txt"
id=org.quarv.zephrant
{
  echo ./usr/games/zephrant
  echo ./usr/share/applications/$id.desktop
  echo ./usr/share/doc/zephrant/CREDITS
  echo ./usr/share/doc/zephrant/changelog.gz
  echo ./usr/share/doc/zephrant/copyright
  for n in 128 16 22 24 256 32 48 512 64; do echo ./usr/share/icons/hicolor/${n}x$n/apps/$id.png; done
  echo ./usr/share/man/man6/zephrant.6.gz
  echo ./usr/share/metainfo/$id.metainfo.xml
} | sort > "$work/expected.txt"
diff "$work/expected.txt" "$work/files.txt" || fail "the package holds other files than the installed ones"

lintian --fail-on error "$deb" || fail "lintian reports errors"

root="$work/root"
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/$id.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" || fail "metainfo"
grep -qx "Exec=zephrant --user-data" "$root/usr/share/applications/$id.desktop" || fail "menu entry"
"$root/usr/games/zephrant" --version | grep -q "^zephrant (QUARV: Zephrant) 1.02$" || fail "--version"

# Started as the menu entry starts it, from a folder that is not its own.
mkdir "$work/cwd"
cd "$work/cwd" || exit 2
XDG_DATA_HOME="$work/data" "$root/usr/games/zephrant" --user-data > "$work/stdout.txt" 2>&1 &
pid=$!
wid=$(find_window $pid)
[ -n "$wid" ] || { kill $pid; fail "no window"; }
# ESC on the title ends the game; a press made while the media still load
# is forgotten, so press until it is gone.
for i in $(seq 1 1200); do
  kill -0 $pid 2>/dev/null || break
  if [ $((i % 20)) = 1 ]; then
    xdotool windowfocus --sync "$wid" 2>/dev/null
    xdotool key --window "$wid" Escape 2>/dev/null
  fi
  sleep 0.1
done
kill -0 $pid 2>/dev/null && { kill $pid; fail "still running after ESC"; }
wait $pid
status=$?
[ $status -eq 0 ] || fail "exit status $status"
[ -f "$work/data/zephrant/vek.hsf" ] || fail "no score file in the data folder"
[ -e "$work/cwd/vek.hsf" ] && fail "a score file in the working folder"
echo "package ok"
