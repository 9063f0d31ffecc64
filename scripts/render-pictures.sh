#!/usr/bin/env bash
# Draws the settings pages, the action dialog, the rule editor and the
# status popup offscreen into docs/images/ (run after a build of build/).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target render_pictures -j"$(nproc)" >/dev/null
QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="default.warning=false" build/tools/render_pictures docs/images
