#!/usr/bin/env bash
# The main job: set up, build and install, then run the demo on a temporary database.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cd /tmp
exec "$OLDPWD/.venv/bin/python" "$OLDPWD/examples/demo.py"
