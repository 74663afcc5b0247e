#!/usr/bin/env bash
# make demo: the whole chain with the simulated machine. qlnrun (the host shell) loads the
# Tactus driver; the driver starts VexServer with the simulator library, connects to it and
# hands positions and probe hits to the host. You see the readout move and every hit of the
# demo's motion script arrive with its approach vector.
#
# Everything runs in a temporary folder made from examples/: VEX.XML (server hidden) and the
# driver's TACConfigData.xml, both on the same free TCP port, and the driver's settings file
# (SETVAULT_INI). With a display, qlnrun shows its window; without one it prints its event
# lines (docs/qlnrun.md), which this script shows in a friendlier form. The session ends by
# itself after DEMO_SECONDS; afterwards the script checks that the server process is gone.
#
# Environment: DEMO_SECONDS (default 25) sets how long to run; VEX_BIN_DIR the folder with
# the programs (default build/bin); VEXSIM_SCRIPT another motion script (docs/simulator.md);
# DEMO_HEADLESS=1 prints the events even when a display exists.
#
# Installed (package vexline-simulator), demo-layout.sh lies beside this script and says
# where the programs, the examples and the stand-in device libraries are; the server is
# then told to take its library from the stand-ins' folder (VEX_DEVICE_LIBRARY_DIR).
set -euo pipefail
# The chain runs in another folder: a script named relative to here must still be found.
if [[ -n ${VEXSIM_SCRIPT:-} ]]; then
    [[ -r $VEXSIM_SCRIPT ]] || { echo "demo: cannot read VEXSIM_SCRIPT=$VEXSIM_SCRIPT" >&2; exit 1; }
    VEXSIM_SCRIPT=$(realpath "$VEXSIM_SCRIPT")
    export VEXSIM_SCRIPT
fi
HERE=$(dirname "$(realpath "$0")")
if [[ -r $HERE/demo-layout.sh ]]; then
    . "$HERE/demo-layout.sh"
    BIN=$(realpath "${VEX_BIN_DIR:-$HERE/$DEMO_BIN_DIR}")
    EXAMPLES=$HERE/$DEMO_EXAMPLES_DIR
    VEX_DEVICE_LIBRARY_DIR=$(realpath "$HERE/$DEMO_DEVICE_LIBRARY_DIR")
    export VEX_DEVICE_LIBRARY_DIR
    LIBRARIES=$VEX_DEVICE_LIBRARY_DIR
else
    BIN=$(realpath "${VEX_BIN_DIR:-$HERE/../build/bin}")
    EXAMPLES=$HERE/../examples
    LIBRARIES=$BIN
fi
SECONDS_TO_RUN=${DEMO_SECONDS:-25}

say() { printf '%s\n' "$*"; }
fail() {
    printf 'demo: %s\n' "$*" >&2
    exit 1
}

for file in "$BIN/qlnrun" "$BIN/VexServer" "$LIBRARIES/libVexSimulator.so"; do
    [[ -e $file ]] || fail "$file is missing; build first (make build)."
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vexline-demo.XXXXXX")
QLNRUN_PID=""

# True when something accepts connections on the port.
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Position servers started for this demo: VexServer processes working in our folder.
server_pids() {
    local dir pid
    for dir in /proc/[0-9]*; do
        pid=${dir#/proc/}
        [[ $(cat "$dir/comm" 2>/dev/null) == VexServer ]] || continue
        [[ $(readlink "$dir/cwd" 2>/dev/null) == "$WORK" ]] || continue
        # A zombie has ended; only its parent's bookkeeping is left.
        [[ $(awk '{print $3}' "$dir/stat" 2>/dev/null) == Z ]] && continue
        printf '%s\n' "$pid"
    done
}

cleanup() {
    if [[ -n $QLNRUN_PID ]] && kill -0 "$QLNRUN_PID" 2>/dev/null; then
        kill -TERM "$QLNRUN_PID" 2>/dev/null || true
        for _ in $(seq 100); do
            kill -0 "$QLNRUN_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$QLNRUN_PID" 2>/dev/null || true
    fi
    local pid
    for pid in $(server_pids); do
        kill -KILL "$pid" 2>/dev/null || true
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'say ""; say "Interrupted."; exit 130' INT TERM

if [[ -z ${DEMO_HEADLESS:-} && (-n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-}) ]]; then
    HEADLESS=""
else
    HEADLESS="--headless"
fi

# A port nothing listens on; the server and the driver's machine file both get it.
PORT=""
for _ in $(seq 20); do
    candidate=$((20000 + RANDOM % 40000))
    if ! port_open "$candidate"; then
        PORT=$candidate
        break
    fi
done
[[ -n $PORT ]] || fail "no free TCP port found."

sed -e "s|<TCPPortNumber>[^<]*</TCPPortNumber>|<TCPPortNumber>$PORT</TCPPortNumber>|" \
    -e "s|<WINDOW_HIDE_SHOW>[^<]*</WINDOW_HIDE_SHOW>|<WINDOW_HIDE_SHOW>HIDE</WINDOW_HIDE_SHOW>|" \
    "$EXAMPLES/VEX.XML" >"$WORK/VEX.XML"
sed -e "s|<CMMPort-IP>[^<]*</CMMPort-IP>|<CMMPort-IP>$PORT</CMMPort-IP>|" \
    "$EXAMPLES/TACConfigData.xml" >"$WORK/TACConfigData.xml"
grep -q "<CMMPort-IP>$PORT</CMMPort-IP>" "$WORK/TACConfigData.xml" ||
    fail "$EXAMPLES/TACConfigData.xml has no CMMPort-IP to set."
export SETVAULT_INI=$WORK/setvault.ini

say "Vexline demo: host shell + Tactus driver + VexServer + simulated machine"
say "========================================================================="
say "Working folder: $WORK"
say "  VEX.XML and TACConfigData.xml from examples/, both on TCP port $PORT;"
say "  driver settings in $SETVAULT_INI"
if [[ -n ${VEXSIM_SCRIPT:-} ]]; then
    say "Simulated machine: motion script $VEXSIM_SCRIPT"
else
    say "Simulated machine: the probe touches a 25 mm sphere (centre 200, 150, 50) from six"
    say "directions; the vector of each hit points back along its approach."
fi
say "qlnrun runs for $SECONDS_TO_RUN s; the driver starts VexServer (hidden) and connects to it."
say "The question whether to reset the axis counters is answered Yes (--answer 4739=yes)."
say ""

QLNRUN=("$BIN/qlnrun" $HEADLESS --dir "$WORK" --duration "$SECONDS_TO_RUN" --answer 4739=yes)
positions=0
hits=0
server=""
if [[ -z $HEADLESS ]]; then
    say "qlnrun's window shows the readout and the hits; close it to end early."
    "${QLNRUN[@]}" </dev/null 2>"$WORK/qlnrun.log" &
    QLNRUN_PID=$!
    while kill -0 "$QLNRUN_PID" 2>/dev/null; do
        [[ -n $server ]] || server=$(server_pids | head -n 1)
        sleep 0.5
    done
    wait "$QLNRUN_PID" && status=0 || status=$?
else
    say "(readout: x y z in mm and w in degrees, every fifth change shown)"
    exec 4< <(exec "${QLNRUN[@]}" </dev/null 2>"$WORK/qlnrun.log")
    QLNRUN_PID=$!
    while IFS= read -r line <&4; do
        [[ -n $server ]] || server=$(server_pids | head -n 1)
        case $line in
        readout\ *)
            positions=$((positions + 1))
            if ((positions % 5 == 1)); then
                read -r _ x y z w <<<"$line"
                printf '  readout  X %11s  Y %11s  Z %11s  W %11s\n' "$x" "$y" "$z" "$w"
            fi
            ;;
        hit\ *)
            hits=$((hits + 1))
            read -r _ x y z i j k w <<<"$line"
            printf '  >>> hit %d at (%s, %s, %s), vector (%s, %s, %s)\n' \
                "$hits" "$x" "$y" "$z" "$i" "$j" "$k"
            ;;
        init-complete)
            say "  the driver is ready: the host left its start-up state"
            ;;
        *)
            say "  $line"
            ;;
        esac
    done
    exec 4<&-
    wait "$QLNRUN_PID" && status=0 || status=$?
fi
QLNRUN_PID=""

say ""
if [[ -n $HEADLESS ]]; then
    say "Seen: $positions readout changes and $hits hits."
fi
if ((status != 0)); then
    say "qlnrun ended with exit status $status; its messages:"
    sed 's/^/  /' "$WORK/qlnrun.log"
    exit 1
fi
say "qlnrun ended normally and closed the driver."
# VexServer's start-up line names the device library it loaded.
started=$(grep -m 1 '^VexServer: version ' "$WORK/qlnrun.log" || true)
[[ -z $started ]] || say "$started"

# The driver stops the server it started; make sure nothing is left.
for _ in $(seq 50); do
    [[ -z $(server_pids) ]] && break
    sleep 0.1
done
left=$(server_pids)
if [[ -n $left ]]; then
    say "VexServer is still running (process $left) after the driver closed; stopping it."
    exit 1
fi
if [[ -n $server ]]; then
    say "VexServer (process $server) has ended."
else
    say "No VexServer process is left."
fi
if [[ -n $HEADLESS ]] && ((hits == 0)); then
    say "No hit arrived; qlnrun's messages:"
    sed 's/^/  /' "$WORK/qlnrun.log"
    exit 1
fi
say "Done. docs/qlnrun.md explains how to drive the driver yourself with qlnrun."
