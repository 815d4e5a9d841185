#!/bin/sh
# Builds the Debian package of the game into build-package/:
# zephrant_<version>_<arch>.deb, built with Debian's compiler and linker
# flags, stripped, its dependencies worked out from the shared libraries.
# Install it with: sudo apt install ./build-package/zephrant_*.deb
# ZEPHRANT_HOMEPAGE, ZEPHRANT_CONTACT and ZEPHRANT_SCORE_HOST, when set,
# give the web site, the maintainer line and the built-in score server.
set -e
# Every hardening flag Debian has, bindnow included.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
repo=$(cd "$(dirname "$0")/.." && pwd)
"$repo/scripts/setup.sh"
cmake -S "$repo" -B "$repo/build-package" -G Ninja -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_INSTALL_PREFIX=/usr -DZEPHRANT_TESTS=OFF \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  ${ZEPHRANT_HOMEPAGE:+"-DZEPHRANT_HOMEPAGE=$ZEPHRANT_HOMEPAGE"} \
  ${ZEPHRANT_CONTACT:+"-DZEPHRANT_CONTACT=$ZEPHRANT_CONTACT"} \
  ${ZEPHRANT_SCORE_HOST:+"-DZEPHRANT_SCORE_HOST=$ZEPHRANT_SCORE_HOST"} >/dev/null
ninja -C "$repo/build-package"
cd "$repo/build-package"
cpack -G DEB
lintian --info "$repo"/build-package/zephrant_*.deb || true
# The placeholders are fine for a trial, not for a package others install.
grep -h "^ZEPHRANT_HOMEPAGE:\|^ZEPHRANT_CONTACT:" "$repo/build-package/CMakeCache.txt" |
  grep "quarv\.example\.org" | sed 's/:STRING=/ = /' | while read -r line; do
    echo "package.sh: warning: $line is still the placeholder;" \
         "set ZEPHRANT_HOMEPAGE and ZEPHRANT_CONTACT" >&2
  done
