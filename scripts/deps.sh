#!/usr/bin/env bash
# Installs the Debian packages the build needs, and with "tests" those the
# tests and measurements need too, when missing.  Sourced by run.sh (the
# build's) and test.sh (both); runs apt-get through sudo when not root.
set -euo pipefail

# Building and running the program (its own tests are built with it).
QF_BUILD_PACKAGES=(build-essential cmake pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
                   libssl-dev openssl libclamav-dev clamav qt6-base-dev libsqlite3-dev scdoc librsvg2-bin python3
                   libcurl4-openssl-dev nlohmann-json3-dev libsecret-1-dev)
# Running the tests: the sanitizer and fuzz compiler, a real POP3 server and
# real clients, the checks of the shipped man page, desktop and systemd
# files and of the package, what the learning classifier is measured
# against, side by side (scripts/learn-quality.sh), an X server with a
# window manager for the window-placement tests, and a session bus with a
# keyring for the sign-in tokens kept there.
QF_TEST_PACKAGES=(clang libclang-rt-dev dovecot-pop3d curl fetchmail mpop getmail6 strace sqlite3
                  groff-base desktop-file-utils appstream systemd lintian bogofilter xvfb openbox
                  dbus-daemon gnome-keyring libsecret-tools)

qf_install_missing() {
    local wanted=("${QF_BUILD_PACKAGES[@]}")
    if [ "${1:-}" = tests ]; then
        wanted+=("${QF_TEST_PACKAGES[@]}")
    fi
    local missing=()
    for pkg in "${wanted[@]}"; do
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
