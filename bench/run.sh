#!/usr/bin/env bash
# Runs every benchmark program of a build, then prints one table of the figures that matter,
# each beside the baseline measured in the same run, and writes it to <build>/bench.txt.
# The programs' own full output goes to <build>/bench-details.txt (and to the terminal as
# they run). What the figures mean: docs/performance.md and docs/performance-driver.md.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
out="$build/bench.txt"
details="$build/bench-details.txt"
csvdir="$build/bench-csv"
mkdir -p "$csvdir"
# BENCH_SUMMARY_ONLY=1 prints the table of the last run again without running anything.
[ -z "${BENCH_SUMMARY_ONLY:-}" ] && : >"$details"
for bin in "$build"/bin/*_bench; do
    [ -z "${BENCH_SUMMARY_ONLY:-}" ] || break
    [ -x "$bin" ] || continue
    name=$(basename "$bin")
    echo "== $name" | tee -a "$details"
    args=()
    # Google Benchmark programs also leave their figures as CSV for the table below.
    if ldd "$bin" 2>/dev/null | grep -q libbenchmark; then
        args=(--benchmark_counters_tabular=true --benchmark_out="$csvdir/$name.csv"
            --benchmark_out_format=csv)
    fi
    "$bin" "${args[@]}" 2>&1 | tee -a "$details"
done

# Google Benchmark CSV: "name",iterations,real_time,cpu_time,time_unit,... ; the value of a
# benchmark is its CPU time in nanoseconds.
cpu_ns() {
    local file=$1 bench=$2
    [ -f "$file" ] || return 0
    awk -F, -v want="\"$bench\"" '$1 == want {
        scale = ($5 == "us") ? 1e3 : ($5 == "ms") ? 1e6 : ($5 == "s") ? 1e9 : 1
        printf "%.6g", $4 * scale
    }' "$file"
}

row() { printf '%-50s %-13s %-26s %-7s %s\n' "$@"; }

summary() {
    row "figure" "value" "baseline (same run)" "ratio" "aim"

    # VexServer round trip beside our own echo server: "%-34s %9.1f us %9.1f us %6.2f   aim".
    awk '/^POS round trip, (median|p99)/ {
        figure = substr($0, 1, 34); sub(/ +$/, "", figure)
        n = split(substr($0, 36), f, " ")
        aim = ""; for (i = 6; i <= n; ++i) aim = aim (aim == "" ? "" : " ") f[i]
        printf "%-50s %-13s %-26s %-7s %s\n", figure, f[1] " " f[2], f[3] " " f[4] " echo", f[5], aim
    }' "$details"

    # Reply parsing beside the C library's sscanf of the same line: messages per second.
    local csv="$csvdir/parser_bench.csv" line parse scan
    for line in position_line hit_line; do
        parse=$(cpu_ns "$csv" "BM_Parse/$line")
        scan=$(cpu_ns "$csv" "BM_Sscanf/$line")
        [ -n "$parse" ] && [ -n "$scan" ] || continue
        awk -v line="${line/_/ }" -v p="$parse" -v s="$scan" 'BEGIN {
            ratio = p / s
            printf "%-50s %-13s %-26s %-7.2f %s\n", "reply parsing, " line,
                sprintf("%.2f M/s", 1e3 / p), sprintf("%.2f M/s sscanf", 1e3 / s), ratio,
                "<= 3 " (ratio <= 3 ? "met" : "NOT MET")
        }'
    done

    # Point conversion per compensation method: with the debug log open beside closed.
    csv="$csvdir/volcomp_bench.csv"
    local method label closed open
    for method in NoVolcomp:none Grid:grid AsiArm1:"ASI arm 1" Asi51Entry:"ASI 51 entries" \
        CncArm5:"CNC arm 5"; do
        label=${method#*:}
        closed=$(cpu_ns "$csv" "BM_${method%%:*}/log:0")
        open=$(cpu_ns "$csv" "BM_${method%%:*}/log:1/iterations:20000")
        [ -n "$closed" ] && [ -n "$open" ] || continue
        awk -v label="$label" -v c="$closed" -v o="$open" 'BEGIN {
            printf "%-50s %-13s %-26s %-7s %s\n", "point conversion, " label ", debug log open",
                sprintf("%.1f ns", o), sprintf("%.1f ns log closed", c), sprintf("%.1f", o / c), "-"
        }'
    done

    # Hit latency end to end, before and after the prompt drain, from chain_bench's rows
    # ("%-50s %-14s %s"): the p99 before beside the bound of the polling design, the figures
    # after beside those before.
    awk '/^(timer|prompt) drain .*: (median|p99|hits timed)/ {
        figure = substr($0, 1, 50); sub(/ +$/, "", figure)
        value = substr($0, 52, 14); sub(/ +$/, "", value)
        bound = substr($0, 67)
        when = (figure ~ /^timer/) ? "before" : "after"
        what = figure; sub(/^[^:]*: /, "", what)
        v[when, what] = value; b[when, what] = bound
    }
    function ms(text) { return text + 0 }
    function line(figure, value, base, ratio, aim) {
        printf "%-50s %-13s %-26s %-7s %s\n", figure, value, base, ratio, aim
    }
    END {
        if (("before", "p99") in v) {
            bound = b["before", "p99"]; sub(/^bound /, "", bound); sub(/ \(.*/, "", bound)
            line("hit latency p99, lines on the timer (before)", v["before", "p99"],
                bound " polling bound", sprintf("%.2f", ms(v["before", "p99"]) / ms(bound)), "-")
        }
        if (("after", "p99") in v) {
            aim = b["after", "p99"]; sub(/^aim <= /, "", aim); sub(/ \(.*/, "", aim)
            line("hit latency p99, prompt drain (after)", v["after", "p99"],
                v["before", "p99"] " before",
                sprintf("%.2f", ms(v["after", "p99"]) / ms(v["before", "p99"])),
                "<= " aim " " (ms(v["after", "p99"]) <= ms(aim) ? "met" : "NOT MET"))
            line("hit latency median, prompt drain (after)", v["after", "median"],
                v["before", "median"] " before",
                sprintf("%.2f", ms(v["after", "median"]) / ms(v["before", "median"])), "-")
        }
        for (i = 1; i <= 2; ++i) {
            when = (i == 1) ? "before" : "after"
            if ((when, "hits timed / missed / twice") in v)
                line("touches timed / missed / twice (" when ")",
                    v[when, "hits timed / missed / twice"], "-", "",
                    b[when, "hits timed / missed / twice"])
        }
    }' "$details"

    # Touch to I++ DME event through tactus-ipp beside the same run's qlnrun host hits, from
    # ipp_bench's rows ("%-50s %-14s %s"; the note holds "qlnrun X ms, aim <= +A ms met").
    awk '/^tactus-ipp event: (median|p99) / {
        what = ($0 ~ /: median/) ? "median" : "p99"
        value = substr($0, 52, 14); sub(/ +$/, "", value)
        note = substr($0, 67)
        base = note; sub(/^qlnrun /, "", base); sub(/,.*/, "", base)
        aim = note; sub(/^.*aim /, "", aim)
        printf "%-50s %-13s %-26s %-7.2f %s\n", "touch -> I++ E0000 event, " what, value,
            base " qlnrun host", (value + 0) / (base + 0), aim
    }
    /^tactus-ipp event: touches timed/ {
        value = substr($0, 52, 14); sub(/ +$/, "", value)
        printf "%-50s %-13s %-26s %-7s %s\n", "I++ touches timed / missed / twice", value, "-", "",
            substr($0, 67)
    }' "$details"

    # The host under a flood, from flood_bench's rows ("%-50s %-14s %s"): no baseline, the
    # aims are the bounds the flood test holds too.
    awk '/^flood: / {
        figure = substr($0, 1, 50); sub(/ +$/, "", figure)
        value = substr($0, 52, 14); sub(/ +$/, "", value)
        note = substr($0, 67)
        aim = "-"
        if (note ~ /^aim <= /) {
            limit = note; sub(/^aim <= /, "", limit)
            aim = note " " ((value + 0) <= (limit + 0) ? "met" : "NOT MET")
            note = "-"
        }
        printf "%-50s %-13s %-26s %-7s %s\n", figure, value, note, "", aim
    }' "$details"
}

{
    echo
    echo "== summary (details: $details)"
    summary
} | tee "$out"
echo "written to $out"
