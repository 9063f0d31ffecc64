#!/usr/bin/env bash
# Configures and builds one configuration: build.sh <build-dir> [cmake options...]
# QF_BUILD_TARGETS, when set, names the targets to build (default: all).
set -euo pipefail
dir=$1
shift
cmake -S "$(dirname "$0")/.." -B "$dir" "$@" >/dev/null
targets=()
for target in ${QF_BUILD_TARGETS:-}; do
    targets+=(--target "$target")
done
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
