#!/bin/sh
# Installs the Debian 12 packages Vantlow needs to build and test. Run as
# root (or with sudo available); installs only what is missing.
set -eu
PACKAGES="cmake ninja-build g++ pkg-config libplist-dev libgtest-dev libgmock-dev
nlohmann-json3-dev clang-14 libclang-rt-14-dev
libgtk-3-dev libx11-dev libxi-dev libxtst-dev xvfb xauth xclip fonts-dejavu-core"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing" >&2
if [ "$(id -u)" -eq 0 ]; then
  apt-get install -y --no-install-recommends $missing || { apt-get update && apt-get install -y --no-install-recommends $missing; }
elif command -v sudo >/dev/null 2>&1; then
  sudo apt-get install -y --no-install-recommends $missing
else
  echo "please install as root:$missing" >&2
  exit 1
fi
