#!/usr/bin/env bash
# Starts Xvfb, shows the dialog and the replay console window, and saves
# pictures of them in tests/screenshots/ (or the folder given). Not run by CI.
#   bash tests/screenshot.sh [build-folder] [output-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
out=${2:-tests/screenshots}
cmake --build "$build" -j2 --target zelk_screenshot
mkdir -p "$out"
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done
home=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$home"' EXIT
mkdir -p "$home"/{config,state,cache,runtime}
chmod 700 "$home/runtime"
env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY DISPLAY="$display" HOME="$home" \
  XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state" XDG_CACHE_HOME="$home/cache" \
  XDG_RUNTIME_DIR="$home/runtime" \
  "$build/tests/app/zelk_screenshot" "$out"
echo "Pictures in $out: $(ls "$out" | tr '\n' ' ')"
