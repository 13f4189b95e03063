#!/usr/bin/env bash
# Installs what the build, the tests and the programs need on Debian 12.
# Idempotent: installs only the packages that are missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git clang-format
  libgtest-dev libgmock-dev googletest
  libcurl4-openssl-dev
  qt6-base-dev qt6-webengine-dev libqt6opengl6-dev libgl-dev
  fonts-wqy-microhei
  xvfb xauth
  openbox xdotool xclip x11-utils imagemagick
  clang libclang-rt-14-dev
  python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  apt_get=(apt-get)
elif command -v sudo >/dev/null 2>&1; then
  apt_get=(sudo apt-get)
else
  echo "These Debian packages are missing and I am not root: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${apt_get[@]}" update -qq
"${apt_get[@]}" install -y -qq --no-install-recommends "${missing[@]}"
