#!/usr/bin/env bash
# Makes the Debian package: package.sh [build-dir], build-package by default.
# The build is configured for the prefix /usr (a new folder without the tests
# and benchmarks), built, and packed by cpack; the last line printed is the
# path of quillfence_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
qf_install_missing
dir=${1:-build-package}
options=(-DCMAKE_INSTALL_PREFIX=/usr)
[ -f "$dir/CMakeCache.txt" ] || options+=(-DQF_BUILD_TESTS=OFF -DQF_BUILD_BENCHMARKS=OFF)
scripts/build.sh "$dir" "${options[@]}"
rm -f "$dir"/quillfence_*.deb
(cd "$dir" && cpack -G DEB >&2)
ls "$PWD/$dir"/quillfence_*.deb
