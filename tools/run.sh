#!/usr/bin/env bash
# Builds the program and starts it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$here/build}
"$here/tools/setup.sh"
exec "$BUILD_DIR/bin/wattmeter" "$@"
