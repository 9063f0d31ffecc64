#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: in the
# normal build and in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer.  Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
qf_install_missing

status=0
run_config() {
    local dir=$1
    shift
    echo "=== $dir: build"
    scripts/build.sh "$dir" "$@"
    echo "=== $dir: tests"
    (cd "$dir" && ctest --output-on-failure -j"$(nproc)" --timeout 300) || status=1
}

run_config build
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_config build-asan -DQF_SANITIZE=ON -DQF_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug

if [ $status -ne 0 ]; then
    echo "SOME TESTS FAILED"
fi
exit $status
