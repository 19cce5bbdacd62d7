#!/usr/bin/env bash
# The server ledger's import side by side with the file's (bench/server_bench.cpp)
# on a throw-away PostgreSQL cluster of its own, removed at the end.
#   scripts/bench-server.sh [records] [runs]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${MORVENT_BENCH_DIR:-$root/build-bench}"
if [ "${MORVENT_BENCH_NO_BUILD:-0}" != 1 ]; then
  launcher=()
  if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMORVENT_BENCH=ON -DMORVENT_TESTS=OFF "${launcher[@]}" >/dev/null
  cmake --build "$build" -j"$(nproc)" --target server_bench >/dev/null
fi
source "$root/scripts/throwaway-pg.sh"
start_throwaway_pg
MORVENT_TEST_PG="$pg_base" "$build/bin/server_bench" "$@"
