#!/usr/bin/env bash
# chroot_install.sh [PACKAGE_DIR]: installs the Debian packages (default: what
# packaging/package.sh left) with dpkg into a minimal system of this machine's
# Debian release, bootstrapped from its own mirror, where the command must
# round-trip a file and its manual page be found. dpkg refuses a package
# whose declared dependencies that system lacks.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=$(realpath "${1:-build/package-check/packages}")
root=$PWD/build/chroot
. /etc/os-release
mirror=$(apt-get indextargets --format '$(REPO_URI)' \
  "Codename: $VERSION_CODENAME" 'Created-By: Packages' | head -n 1)

rm -rf "$root"
debootstrap --variant=minbase --include=man-db "$VERSION_CODENAME" "$root" \
  "$mirror" >"$root.log" 2>&1 || { tail -n 20 "$root.log"; exit 1; }
mkdir "$root/packages" && cp "$packages"/*.deb "$root/packages"
chroot "$root" sh -ec '
  dpkg -i /packages/*.deb >/dev/null
  ldconfig -p | grep -q libtarnwick_blowfish.so.1
  head -c 100000 /dev/urandom > /tmp/plain
  Tarnwick -e secret /tmp/plain /tmp/sealed
  Tarnwick -d secret /tmp/sealed /tmp/restored
  cmp /tmp/plain /tmp/restored
  man -w Tarnwick'
echo "chroot install: packages installed, round trip and manual page found"
