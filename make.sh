#!/usr/bin/env bash
# The two entry points of a fresh Debian 12 machine: `bash make.sh run` and
# `bash make.sh test`. A minimal Debian has no make, so the packages are
# installed before make is first needed; after that it is plain `make`.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/deps.sh
exec make "$@"
