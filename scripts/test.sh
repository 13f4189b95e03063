#!/usr/bin/env bash
# Runs the test suite of one build folder; extra arguments go to ctest.
set -euo pipefail
dir=$1; shift
home="$dir/testhome"
rm -rf "$home"; mkdir -p "$home"/{config,state,cache,runtime}; chmod 700 "$home/runtime"
export HOME="$PWD/$home" XDG_CONFIG_HOME="$PWD/$home/config" XDG_STATE_HOME="$PWD/$home/state" \
  XDG_CACHE_HOME="$PWD/$home/cache" XDG_RUNTIME_DIR="$PWD/$home/runtime"
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
ctest --test-dir "$dir" --output-on-failure -j2 --timeout 300 "$@"
