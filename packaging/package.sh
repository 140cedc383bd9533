#!/usr/bin/env bash
# package.sh: the Debian packages of the last commit, built from two clones
# in differently named folders, are the same bytes; lintian finds no error or
# warning in them; they hold exactly the files in packaging/packages.txt; and
# the shared libraries export exactly packaging/exports.txt. The packages stay
# in build/package-check/packages for packaging/chroot_install.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD work=$PWD/build/package-check
rm -rf "$work"
export CMAKE_BUILD_PARALLEL_LEVEL=2
for clone in "$work/one" "$work/and/two"; do
  git clone -q . "$clone"
  (cd "$clone" && cmake --workflow --preset package) >"$clone.log" 2>&1 ||
    { tail -n 40 "$clone.log"; exit 1; }
done
mv "$work/one/build/package/packages" "$work/packages"
cd "$work/packages"
for deb in *.deb; do cmp "$deb" "$work/and/two/build/package/packages/$deb"; done
lintian --fail-on error,warning *.deb

for deb in *.deb; do
  dpkg-deb --contents "$deb" |
    awk -v p="$(dpkg-deb -f "$deb" Package)" '!/^d/ {print p, $1, $6, $7, $8}'
done | sed "s/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/MULTIARCH/; s/ *$//" |
  diff <(grep -v '^#' "$repo/packaging/packages.txt") -
dpkg-deb -x libtarnwick1_*.deb "$work/root"
for library in "$work"/root/usr/lib/*/libtarnwick_*.so.1; do
  echo "${library##*/}:" && nm -DCj --defined-only "$library"
done | diff <(grep -v '^#' "$repo/packaging/exports.txt") -
echo "packages: reproducible, lintian clean, contents as listed"
