#!/bin/sh
# Installs every Debian package the build, the game, the tests and the media
# generator need. Quick when everything is already present.
set -e
PKGS="cmake g++ make pkg-config ninja-build
libsdl2-dev libgl-dev libopenal-dev libvorbis-dev libogg-dev libpng-dev
libfreetype-dev zlib1g-dev libgtest-dev libgmock-dev
xvfb xauth xdotool x11-utils imagemagick sox cppcheck clang libclang-rt-14-dev
python3 python3-fonttools python3-numpy python3-shapely fonts-dejavu-core
postgresql python3-psycopg
libopenal1 libsdl2-2.0-0 libgl1-mesa-dri libegl-mesa0 libglx-mesa0
dpkg-dev desktop-file-utils appstream lintian ccache
emscripten libstb-dev chromium python3-websocket"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  echo "setup: installing$missing"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=300 $missing >/dev/null
fi
