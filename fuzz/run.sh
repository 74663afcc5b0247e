#!/usr/bin/env bash
# Runs every fuzz target of a VEX_FUZZ build for a bounded time. New inputs that grow
# coverage are kept in fuzz/corpus/<target>/ (the regression corpus replayed by make test);
# a crash stops the run with the reproducer in fuzz/artifacts/.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-60}
cd "$(dirname "$0")/.."
# Absolute paths: a target may change its working directory while it runs.
top=$PWD
mkdir -p fuzz/artifacts
status=0
for bin in "$build"/bin/*_fuzz; do
    [ -x "$bin" ] || continue
    name=$(basename "$bin")
    mkdir -p "fuzz/corpus/$name"
    echo "== $name for ${seconds}s"
    if ! ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$bin" -max_total_time="$seconds" -max_len=4096 -artifact_prefix="$top/fuzz/artifacts/" \
        -reduce_inputs=1 "$top/fuzz/corpus/$name"; then
        status=1
    fi
done
exit $status
