#!/usr/bin/env bash
# Installs what is missing, builds, and starts the Quillfence Pro proxy in the
# foreground: with its tray icon and settings window on a desktop, headless
# without a display.  It prints the address to give the mail client; stop
# it with Ctrl-C or, from another shell, build/bin/quillfnc --stop.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
qf_install_missing
scripts/build.sh build
exec build/bin/quillfnc "$@"
