#!/usr/bin/env bash
# Builds the .deb, checks its desktop entry and AppStream data, that an install to a prefix
# stays under it and that lintian finds neither errors nor warnings in the package, installs the
# package with apt-get and runs the installed program's --version.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$here/build}
export EXTRA_PACKAGES="dpkg-dev desktop-file-utils appstream lintian ${EXTRA_PACKAGES:-}"
"$here/tools/setup.sh"

desktop-file-validate "$here/packaging/vorlan-wattmeter.desktop"
appstreamcli validate --no-net --pedantic "$BUILD_DIR/packaging/io.vorlan.wattmeter.metainfo.xml" || \
    appstreamcli validate --no-net "$BUILD_DIR/packaging/io.vorlan.wattmeter.metainfo.xml"

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$BUILD_DIR" --prefix "$prefix" >/dev/null
if grep -v "^$prefix/" "$BUILD_DIR/install_manifest.txt"; then
    echo "cmake --install wrote the files above outside its prefix" >&2
    exit 1
fi

(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
deb=$(ls "$BUILD_DIR"/vorlan-wattmeter_*.deb | head -n 1)
echo "Package: $deb"
dpkg-deb --field "$deb" Depends
dpkg-deb --contents "$deb" | awk '{print $6}'
# Overrides installed with the package (usr/share/lintian/overrides) are honoured and listed.
lintian --fail-on error,warning --show-overrides "$deb"

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "$deb" >/dev/null
echo "Installed: $(/usr/bin/wattmeter --version)"
/usr/bin/wattmeter-sim --help >/dev/null
/usr/bin/wattmeterd --version
