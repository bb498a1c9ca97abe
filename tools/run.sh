#!/usr/bin/env bash
# Runs the program with the timing-device simulator on COM1: `make run`, or tools/run.sh <builddir>.
# The simulator stops when the program exits.
set -euo pipefail

build="${1:?usage: tools/run.sh <builddir>}"
program="$build/quintara"
sim="$build/tools/sim/quintara-sim"
link="${XDG_DATA_HOME:-$HOME/.local/share}/quintara/COM1"

for binary in "$program" "$sim"; do
    if [ ! -x "$binary" ]; then
        echo "run.sh: $binary is missing: build first (make build)" >&2
        exit 1
    fi
done

# A link to a pseudo-terminal left by a simulator that died would look ready at once: take it away first.
if [ -L "$link" ] && [[ "$(readlink "$link")" == /dev/pts/* ]]; then
    rm -f "$link"
fi

"$sim" --port 1 &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT

linked() { [ -L "$link" ] && [[ "$(readlink "$link")" == /dev/pts/* ]]; }
for _ in $(seq 100); do
    linked && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "run.sh: the simulator did not start" >&2
        exit 1
    fi
    sleep 0.1
done
if ! linked; then
    echo "run.sh: the simulator did not link $link" >&2
    exit 1
fi

"$program"
