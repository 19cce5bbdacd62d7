#!/usr/bin/env bash
# Builds everything and runs every test suite.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/build.sh"
dir="${MORVENT_BUILD_DIR:-$root/build}"
# A throw-away PostgreSQL for the server ledger's tests.
source "$root/scripts/throwaway-pg.sh"
start_throwaway_pg unsynced
export MORVENT_TEST_PG="$pg_base"
# The ten slowest tests close every run, passed or not, so that slow ones
# stay few and named (sed reads to the end: an early exit would fail the run
# through pipefail).
slowest() {
  echo "== the ten slowest tests (seconds)"
  sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) .* ([0-9.]+) sec$/\2 \1/p' "$dir/ctest.out" | sort -rn | sed -n '1,10p'
}
status=0
(cd "$dir" && ctest --output-on-failure -j"$(nproc)") | tee "$dir/ctest.out" || status=$?
if [ "$status" -eq 0 ]; then
  # Every fuzz harness (six) for 24 seconds under the sanitizers; a crash fails.
  bash "$root/scripts/fuzz.sh" 24 || status=$?
fi
if [ "$status" -eq 0 ]; then
  # An installed copy serves a client program built three ways.
  bash "$root/scripts/consumer-test.sh" || status=$?
fi
slowest
exit "$status"
