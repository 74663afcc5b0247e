#!/usr/bin/env bash
# make demo: shows the system working with the simulator (see README.md).
set -euo pipefail
cd "$(dirname "$0")/.."
echo "The demo grows with the system; for now it lists the diagnostic commands."
build/bin/tactus-tool help
