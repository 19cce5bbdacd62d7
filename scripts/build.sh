#!/usr/bin/env bash
# Configures and builds into build/ (set MORVENT_BUILD_DIR to change it).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
dir="${MORVENT_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
