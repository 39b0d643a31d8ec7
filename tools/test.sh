#!/usr/bin/env bash
# Builds everything and runs the whole test suite headless.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$here/build}
TARGETS= WITH_TESTS=1 "$here/tools/setup.sh"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2
