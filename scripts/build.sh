#!/usr/bin/env bash
# Configures and builds one configuration: build.sh <build-dir> [cmake options...]
set -euo pipefail
dir=$1
shift
cmake -S "$(dirname "$0")/.." -B "$dir" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
