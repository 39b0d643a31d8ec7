#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer on)
# and runs each for SECONDS seconds (default 60), starting from its seed corpus in fuzz/corpus,
# copied so the seeds stay as they are. Exits non-zero as soon as a target finds an input that
# crashes it or breaks one of its checks; the input is kept under the build folder's findings/.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]
#
# targets: fuzz_scan fuzz_appendlog fuzz_appendlog_pane fuzz_request_head (all by default)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(fuzz_scan fuzz_appendlog fuzz_appendlog_pane fuzz_request_head)
build_dir=${FUZZ_BUILD_DIR:-$here/build-fuzz}

"$here/tools/install-packages.sh" cmake ninja-build clang libclang-rt-14-dev qt6-base-dev qt6-serialport-dev qt6-websockets-dev

cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWATTMETER_BUILD_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target "${targets[@]}"

corpus_of() {
    case $1 in
    fuzz_scan) echo scan ;;
    fuzz_request_head) echo request_head ;;
    *) echo appendlog ;; # both appendlog targets read the same append sequences
    esac
}

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$here/tools/lsan.supp:print_suppressions=0
findings=$build_dir/findings
mkdir -p "$findings"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
for target in "${targets[@]}"; do
    seeds=$(corpus_of "$target")
    cp -r "$here/fuzz/corpus/$seeds" "$work/$target"
    dict=()
    [ -f "$here/fuzz/$seeds.dict" ] && dict=(-dict="$here/fuzz/$seeds.dict")
    echo "== $target for ${seconds}s"
    log=$work/$target.log
    if "$build_dir/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/$target-" "${dict[@]}" \
        "$work/$target" >"$log" 2>&1; then
        grep -E '^#[0-9]+.*(DONE|cov:)' "$log" | tail -1
        grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$log"
    else
        status=1
        tail -40 "$log"
        echo "FINDING in $target: see $findings" >&2
    fi
done
exit $status
