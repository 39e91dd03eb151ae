#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need.
# Skips apt entirely when everything is already there.
set -eu
PKGS="build-essential cmake ninja-build pkg-config libwxgtk3.2-dev libtiff-dev
libjpeg62-turbo-dev libpng-dev libopenjp2-7-dev libqpdf-dev libgtest-dev libgmock-dev
libbenchmark-dev xvfb xauth fonts-dejavu-core ccache zip unzip imagemagick poppler-utils
libtiff-tools libopenjp2-tools libvips-tools xdotool x11-apps trayer python3 pngquant"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
