#!/bin/sh
# debian_package.sh BUILD_DIR: the Debian packages hold what they promise.
set -eu
build=$1
out=$build/packages
rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
contents() { dpkg-deb --contents "$out"/$1_*.deb | awk '{print $6}'; }
contents tarnwick | grep -qx './usr/bin/Tarnwick'
contents tarnwick | grep -qx './usr/share/man/man1/Tarnwick.1'
contents tarnwick-dev | grep -qx './usr/include/blowfish/blowfish.h'
contents tarnwick-dev | grep -qx './usr/include/md5/md5.h'
contents tarnwick-dev | grep -q 'TarnwickConfig.cmake$'
dpkg-deb --field "$out"/tarnwick_*.deb Package Depends
