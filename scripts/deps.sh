#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Sourced by run.sh and test.sh; runs apt-get through sudo when not root.
set -euo pipefail

QF_PACKAGES=(build-essential cmake pkg-config googletest libgtest-dev libgmock-dev
             libbenchmark-dev clang libclang-rt-dev libssl-dev openssl libclamav-dev clamav dovecot-pop3d curl fetchmail mpop python3
             strace qt6-base-dev libsqlite3-dev sqlite3
             # the man page, and the checks of the shipped desktop and systemd files
             scdoc groff-base desktop-file-utils appstream systemd
             # only measured against, side by side (scripts/learn-quality.sh)
             bogofilter)

qf_install_missing() {
    local missing=()
    for pkg in "${QF_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
