#!/usr/bin/env bash
# Draws the settings pages, the action dialog, the rule editor, the setup
# wizard and the status popup offscreen into docs/images/ (run after a
# build of build/), at the sizes they take on an 1600x900 screen; then the
# settings window at scale 2 on the same screen, and the settings window
# and the rule editor in a dark theme.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target render_pictures -j"$(nproc)" >/dev/null
screen="offscreen:configfile=$PWD/tests/ui/screen-1600x900.json"
export QT_LOGGING_RULES="default.warning=false"
QT_QPA_PLATFORM="$screen" build/tools/render_pictures docs/images
QT_QPA_PLATFORM="$screen" QT_SCALE_FACTOR=2 build/tools/render_pictures docs/images scale2
QT_QPA_PLATFORM="$screen" build/tools/render_pictures docs/images dark
