#!/usr/bin/env bash
# make soak: the whole chain under load for a long time. qlnrun (headless, --timestamps) loads
# the Tactus driver, which starts VexServer with the simulator; the server polls every 5 ms,
# the driver asks for a position every 10 ms, and the simulated probe touches a surface about
# every 200 ms. At the end the script checks that
#   - every touch made while the driver was connected reached the host exactly once,
#   - the resident memory (VmRSS) of qlnrun and of VexServer grew by less than 1 MiB after
#     the warm-up,
#   - neither process gained open descriptors or threads after the warm-up,
#   - quit closed the driver and qlnrun ended with status 0.
# It prints a table and writes it to <build>/soak.txt; the exit status is 0 only when every
# check passed.
#
# Usage: tools/soak.sh [BUILD_DIR]   (default build)
# Environment: SOAK_MINUTES (default 30), SOAK_SAMPLE_SECONDS (default 10),
# SOAK_WARMUP_SECONDS (default 60, or a tenth of the run when that is longer),
# SOAK_KEEP=1 keeps the working folder (events, touch log, samples) for a closer look;
# SOAK_DEBUG_LOG=FILE has the driver write its debug log there.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${1:-build}
BIN=$(realpath "$BUILD/bin")
MINUTES=${SOAK_MINUTES:-30}
SAMPLE=${SOAK_SAMPLE_SECONDS:-10}
RUN_SECONDS=$(awk -v m="$MINUTES" 'BEGIN { printf "%d", m * 60 }')
WARMUP=${SOAK_WARMUP_SECONDS:-$(( RUN_SECONDS / 10 > 60 ? RUN_SECONDS / 10 : 60 ))}
RSS_LIMIT_KB=1024

fail() {
    printf 'soak: %s\n' "$*" >&2
    exit 2
}
for file in qlnrun libTactus.so libqlnhost.so VexServer libVexSimulator.so; do
    [[ -e $BIN/$file ]] || fail "$BIN/$file is missing; build first (make build)."
done
(( RUN_SECONDS > WARMUP + 3 * SAMPLE )) ||
    fail "SOAK_MINUTES=$MINUTES leaves no time after the ${WARMUP} s warm-up."

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vexline-soak.XXXXXX")
QLNRUN_PID=""
SERVER_PID=""

alive() { [[ -n $1 ]] && [[ -e /proc/$1 ]] && [[ $(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) != Z ]]; }

cleanup() {
    exec 3>&-
    if alive "$QLNRUN_PID"; then
        kill -TERM "$QLNRUN_PID" 2>/dev/null || true
        for _ in $(seq 100); do alive "$QLNRUN_PID" || break; sleep 0.1; done
        kill -KILL "$QLNRUN_PID" 2>/dev/null || true
    fi
    if alive "$SERVER_PID"; then
        kill -KILL "$SERVER_PID" 2>/dev/null || true
    fi
    if [[ -n ${SOAK_KEEP:-} ]]; then
        printf 'soak: files kept in %s\n' "$WORK" >&2
    else
        rm -rf "$WORK"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A port nothing listens on, for the server and the driver's machine file.
port_open() { (exec 4<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
PORT=""
for _ in $(seq 20); do
    candidate=$((20000 + RANDOM % 40000))
    if ! port_open "$candidate"; then PORT=$candidate; break; fi
done
[[ -n $PORT ]] || fail "no free TCP port found."

cat >"$WORK/VEX.XML" <<EOF
<?xml version="1.0"?>
<VEX>
  <INTERFACE>SIMULATOR</INTERFACE>
  <TCPPortNumber>$PORT</TCPPortNumber>
  <WINDOW_HIDE_SHOW>HIDE</WINDOW_HIDE_SHOW>
  <POLL_TIME>5</POLL_TIME>
</VEX>
EOF
sed -e "s|<CMMPort-IP>[^<]*</CMMPort-IP>|<CMMPort-IP>$PORT</CMMPort-IP>|" \
    -e "s|<RequestInterval>[^<]*</RequestInterval>|<RequestInterval>10</RequestInterval>|" \
    "$ROOT/examples/TACConfigData.xml" >"$WORK/TACConfigData.xml"
grep -q "<RequestInterval>10</RequestInterval>" "$WORK/TACConfigData.xml" ||
    fail "examples/TACConfigData.xml has no RequestInterval to set."
# One touch every 0.2037 s: 50 ms down, 103.7 ms resting on the surface, 50 ms up. The
# period is no multiple of the server's or the driver's, so the touches fall at every phase
# of both timers (3.7 ms further on each time).
cat >"$WORK/touch.vexsim" <<EOF
scale 50 50 50 360
hold 0.1037
start 0 0 1 0
touch 0 0 0 0 20
move  0 0 1 0 20
repeat
EOF

export SETVAULT_INI=$WORK/setvault.ini
if [[ -n ${SOAK_DEBUG_LOG:-} ]]; then
    printf '[USER_Tactus]\nDebugLog=TRUE\nDebugFile=%s\nVersion=1.2700000000\n' \
        "$(realpath -m "$SOAK_DEBUG_LOG")" >"$SETVAULT_INI"
fi
export VEXSIM_SCRIPT=$WORK/touch.vexsim
export VEXSIM_TOUCH_LOG=$WORK/touches.log
mkfifo "$WORK/commands"
exec 3<>"$WORK/commands"
# --duration only as a safety net should this script die without sending quit.
"$BIN/qlnrun" --headless --timestamps --dir "$WORK" --answer 4739=no \
    --duration $((RUN_SECONDS + 900)) <"$WORK/commands" >"$WORK/events.txt" 2>"$WORK/qlnrun.log" &
QLNRUN_PID=$!

for _ in $(seq 600); do
    for dir in /proc/[0-9]*; do
        [[ $(cat "$dir/comm" 2>/dev/null) == VexServer ]] || continue
        [[ $(awk '{print $4}' "$dir/stat" 2>/dev/null) == "$QLNRUN_PID" ]] || continue
        SERVER_PID=${dir#/proc/}
    done
    [[ -n $SERVER_PID ]] && grep -q '^readout ' "$WORK/events.txt" && break
    alive "$QLNRUN_PID" || break
    sleep 0.1
done
[[ -n $SERVER_PID ]] || fail "the driver did not start VexServer; $(tail -5 "$WORK/qlnrun.log")"
grep -q '^readout ' "$WORK/events.txt" || fail "no position arrived; $(tail -5 "$WORK/qlnrun.log")"

printf 'soak: %s min (warm-up %s s), qlnrun %s, VexServer %s, folder %s\n' \
    "$MINUTES" "$WARMUP" "$QLNRUN_PID" "$SERVER_PID" "$WORK"

# seconds since start, then rss kB, fds, threads of qlnrun and of VexServer.
sample() {
    local line="$1" pid
    for pid in "$QLNRUN_PID" "$SERVER_PID"; do
        if ! alive "$pid"; then
            line+=" - - -"
            continue
        fi
        line+=" $(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")"
        line+=" $(find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)"
        line+=" $(awk '/^Threads:/ {print $2}' "/proc/$pid/status")"
    done
    printf '%s\n' "$line" >>"$WORK/samples.txt"
}

START=$SECONDS
while (( SECONDS - START < RUN_SECONDS )); do
    sample $((SECONDS - START))
    alive "$QLNRUN_PID" && alive "$SERVER_PID" || break
    sleep "$SAMPLE"
done
sample $((SECONDS - START))
LAST_STAMP=$(grep -o ' @[0-9.]*$' "$WORK/events.txt" | tail -n 1 | tr -d ' @')

printf 'quit\n' >&3
STATUS=0
for _ in $(seq 600); do alive "$QLNRUN_PID" || break; sleep 0.1; done
if alive "$QLNRUN_PID"; then
    STATUS=timeout
else
    wait "$QLNRUN_PID" && STATUS=0 || STATUS=$?
fi
QLNRUN_PID=""
SERVER_LEFT=no
for _ in $(seq 50); do alive "$SERVER_PID" || break; sleep 0.1; done
alive "$SERVER_PID" && SERVER_LEFT=yes

# Touches counted: latched after the first position arrived and at least a second before the
# last event line (their hits have had time to arrive). Every hit is paired with the latest
# touch before it.
FIRST_STAMP=$(grep -m 1 -o '^readout .* @[0-9.]*$' "$WORK/events.txt" | sed 's/.*@//')
DELIVERY=$(awk -v from="$FIRST_STAMP" -v to="$LAST_STAMP" '
    FNR == NR { if ($1 == "touch") t[n++] = $3; next }
    /^hit / {
        stamp = substr($NF, 2) + 0
        while (j + 1 < n && t[j + 1] <= stamp) j++
        if (n == 0 || t[j] > stamp) next
        hits[j]++
        if (t[j] > from && t[j] < to - 1.0) lat[m++] = (stamp - t[j]) * 1000
    }
    END {
        for (i = 0; i < n; i++) {
            if (t[i] <= from || t[i] >= to - 1.0) continue
            counted++
            if (!(i in hits)) missed++
            else if (hits[i] > 1) twice++
        }
        # latencies sorted for the median and p99 (insertion sort is fine for these sizes)
        for (a = 1; a < m; a++) { v = lat[a]; for (b = a - 1; b >= 0 && lat[b] > v; b--) lat[b + 1] = lat[b]; lat[b + 1] = v }
        p50 = m ? lat[int((m - 1) * 0.5)] : 0
        p99 = m ? lat[int((m - 1) * 0.99)] : 0
        printf "%d %d %d %.1f %.1f %.1f\n", counted, missed + 0, twice + 0, p50, p99, m ? lat[m - 1] : 0
    }' "$WORK/touches.log" "$WORK/events.txt")
read -r COUNTED MISSED TWICE P50 P99 PMAX <<<"$DELIVERY"

# Growth after the warm-up: mean of the last three samples minus mean of the first three
# samples taken after the warm-up. Columns: 2-4 qlnrun, 5-7 VexServer.
growth() {
    awk -v warm="$WARMUP" -v col="$1" '
        $1 >= warm && $col != "-" { v[n++] = $col }
        END {
            if (n < 6) { print "n/a"; exit }
            printf "%d %d %d %d\n", (v[n-1] + v[n-2] + v[n-3]) / 3 - (v[0] + v[1] + v[2]) / 3, v[0], v[n-1], max(v, n)
        }
        function max(a, k,   i, m) { m = a[0]; for (i = 1; i < k; i++) if (a[i] > m) m = a[i]; return m }
    ' "$WORK/samples.txt"
}
verdict() { if [[ $1 == yes ]]; then echo ok; else echo FAILED; fi; }
SAMPLES=$(wc -l <"$WORK/samples.txt")
ELAPSED=$(tail -n 1 "$WORK/samples.txt" | awk '{print $1}')
{
    printf 'Soak: %s s of %s planned (%s samples, warm-up %s s); POLL_TIME 5 ms, RequestInterval 10 ms, a touch every 203.7 ms\n' \
        "$ELAPSED" "$RUN_SECONDS" "$SAMPLES" "$WARMUP"
    printf '%-44s %-28s %s\n' figure value check
    printf '%-44s %-28s %s\n' "touches counted / missed / delivered twice" "$COUNTED / $MISSED / $TWICE" \
        "$(verdict "$([[ $COUNTED -gt 0 && $MISSED -eq 0 && $TWICE -eq 0 ]] && echo yes)")"
    printf '%-44s %-28s %s\n' "hit latency median / p99 / max" "$P50 / $P99 / $PMAX ms" ""
    for proc in qlnrun:2 VexServer:5; do
        name=${proc%%:*}
        col=${proc##*:}
        read -r grow first last _ <<<"$(growth "$col")"
        printf '%-44s %-28s %s\n' "$name VmRSS growth after warm-up" "$grow kB ($first -> $last kB)" \
            "$(verdict "$([[ $grow != n/a && $grow -lt $RSS_LIMIT_KB ]] && echo yes)")"
        read -r grow first last most <<<"$(growth $((col + 1)))"
        printf '%-44s %-28s %s\n' "$name descriptors (after warm-up: first, last, most)" "$first, $last, $most" \
            "$(verdict "$([[ $grow != n/a && $last -le $first && $most -le $first ]] && echo yes)")"
        read -r grow first last most <<<"$(growth $((col + 2)))"
        printf '%-44s %-28s %s\n' "$name threads (after warm-up: first, last, most)" "$first, $last, $most" \
            "$(verdict "$([[ $grow != n/a && $last -le $first && $most -le $first ]] && echo yes)")"
    done
    printf '%-44s %-28s %s\n' "qlnrun exit status after quit" "$STATUS" \
        "$(verdict "$([[ $STATUS == 0 ]] && echo yes)")"
    printf '%-44s %-28s %s\n' "VexServer still running after quit" "$SERVER_LEFT" \
        "$(verdict "$([[ $SERVER_LEFT == no ]] && echo yes)")"
} | tee "$BUILD/soak.txt"
if grep -q 'FAILED$' "$BUILD/soak.txt"; then
    echo "soak: FAILED (table in $BUILD/soak.txt)"
    exit 1
fi
echo "soak: passed (table in $BUILD/soak.txt)"
