#!/usr/bin/env bash
# Builds everything and runs every test suite.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/build.sh"
dir="${MORVENT_BUILD_DIR:-$root/build}"
cd "$dir" && ctest --output-on-failure -j"$(nproc)"
# Every fuzz harness (five) for 24 seconds under the sanitizers; a crash fails.
bash "$root/scripts/fuzz.sh" 24
# An installed copy serves a client program built three ways.
bash "$root/scripts/consumer-test.sh"
