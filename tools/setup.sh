#!/usr/bin/env bash
# Installs what the build needs (Debian 12 packages), then configures and builds.
# Used by run.sh and test.sh; BUILD_DIR picks the build folder (default: build); TARGETS names
# the targets to build (default: all); WITH_TESTS=1 adds what the tests start (an X server, a
# session bus, a notification daemon, a browser, Prometheus, an MQTT broker and its clients,
# openssl for the broker's certificates, and Jinja2 to render Home Assistant's templates).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-$here/build}

test_packages=
[ -n "${WITH_TESTS:-}" ] && test_packages="xvfb xauth dbus-daemon dunst dbus-tests chromium prometheus mosquitto mosquitto-clients openssl python3-jinja2"
"$here/tools/install-packages.sh" cmake ninja-build g++ pkgconf qt6-base-dev qt6-serialport-dev \
    qt6-websockets-dev libjs-dygraphs libmosquitto-dev libssl-dev libsystemd-dev \
    $test_packages ${EXTRA_PACKAGES:-}

cmake -S "$here" -B "$build_dir" -G Ninja ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" -j"$(nproc)" ${TARGETS:+--target $TARGETS}
