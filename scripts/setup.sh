#!/usr/bin/env bash
# Installs what quorvane needs on Debian 12 (as root, or through sudo), then builds the wheel
# (dist/) and installs it into the virtual environment .venv, made from Debian's
# /usr/bin/python3 with the system's site packages (pytest and the rest come from Debian).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  g++ pkg-config meson ninja-build
  python3-dev python3-venv python3-mesonpy
  libsqlite3-dev libsimdjson-dev libgtest-dev
  python3-pytest python3-hypothesis faketime sqlite3 mypy
  # what Debian's pytest and hypothesis need on Python 3.10 (scripts/test_pythons.sh)
  python3-exceptiongroup python3-tomli
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

if [ ! -x .venv/bin/python ]; then
  /usr/bin/python3 -m venv --system-site-packages .venv
fi
# One wheel, installed here and, by scripts/test_pythons.sh, under every other Python.
rm -rf dist
.venv/bin/python -m pip wheel -q --no-index --no-build-isolation --no-deps \
  --config-settings=builddir=build-pip --wheel-dir dist .
.venv/bin/python -m pip install -q --no-index --force-reinstall --no-deps dist/quorvane-*.whl
