#!/bin/sh
# Builds the Debian package of the game into build-package/:
# zephrant_<version>_<arch>.deb, built with Debian's compiler and linker
# flags, stripped, its dependencies worked out from the shared libraries.
# Install it with: sudo apt install ./build-package/zephrant_*.deb
set -e
# Every hardening flag Debian has, bindnow included.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
repo=$(cd "$(dirname "$0")/.." && pwd)
"$repo/scripts/setup.sh"
cmake -S "$repo" -B "$repo/build-package" -G Ninja -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_INSTALL_PREFIX=/usr -DZEPHRANT_TESTS=OFF \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
ninja -C "$repo/build-package"
cd "$repo/build-package"
cpack -G DEB
lintian --info "$repo"/build-package/zephrant_*.deb || true
