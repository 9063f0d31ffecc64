#!/usr/bin/env bash
# Installs what is missing, builds, and starts what exists of Quillfence Pro.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
qf_install_missing
scripts/build.sh build

# The proxy program does not exist yet: the shared library commonkit does.
# Until it lands, show what the library does by running its wildcard
# matcher benchmark.
echo
echo "The proxy program quillfnc is not built yet; this build provides its common"
echo "library, build/bin/libcommonkit.so.  Running the wildcard matcher benchmark:"
build/bench/bench_wildcard --benchmark_min_time=0.1
