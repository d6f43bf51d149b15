#!/usr/bin/env bash
# Installs every Debian package needed to build Corvane Studio, run its tests
# headless and run it under a virtual X server. Does nothing when all are present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev libqcustomplot-dev
  libqt5serialbus5-dev libqt5serialbus5-plugins
  xvfb xauth imagemagick librsvg2-bin fonts-dejavu-core
  clang libclang-rt-14-dev
  python3-pyvisa-py
  libtango-dev python3-tango libtango-tools
  # a TANGO database for the tests that run the program with one
  tango-db mariadb-server
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install_deps: all packages present"
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "install_deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# tango-db would create its tables in the machine's own MariaDB; the tests
# start a private one instead.
echo "tango-db tango-db/dbconfig-install boolean false" | $sudo debconf-set-selections
$sudo apt-get update
$sudo apt-get install -y "${missing[@]}"
