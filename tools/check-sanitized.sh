#!/usr/bin/env bash
# Builds the program and its whole test suite with AddressSanitizer and UndefinedBehaviorSanitizer
# in its own folder (default build-asan) and runs the tests; the first report of either
# sanitizer fails the test that raised it, and so the run.
#
# Qt itself is not instrumented. Leaks that Qt's own libraries keep until exit are suppressed by
# tools/lsan.supp; nothing of ours is.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${ASAN_BUILD_DIR:-$here/build-asan}
# Debug: no optimisation hides a read past the end, and Qt's own asserts are on.
export CMAKE_ARGS="-DWATTMETER_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug ${CMAKE_ARGS:-}"
WITH_TESTS=1 "$here/tools/setup.sh"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$here/tools/lsan.supp:print_suppressions=0
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 "$@"
