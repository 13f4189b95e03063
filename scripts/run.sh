#!/usr/bin/env bash
# Starts the dialog when a display is there, the command-line solver otherwise.
set -euo pipefail
dir=$1
if { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; } && [ -x "$dir/app/ZelkSolver" ]; then
  exec "$dir/app/ZelkSolver"
fi
exec "$dir/cli/zelk"
