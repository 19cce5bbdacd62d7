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
pgdir="$(mktemp -d "${TMPDIR:-/tmp}/morvent-pg.XXXXXX")"
pgbin="$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)"
as_pg=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres "$pgdir"
  as_pg=(runuser -u postgres --)
fi
stop_pg() {
  "${as_pg[@]}" "$pgbin/pg_ctl" -D "$pgdir/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$pgdir"
}
trap stop_pg EXIT
"${as_pg[@]}" "$pgbin/initdb" -D "$pgdir/data" -A trust -U morvent -E UTF8 --no-locale >"$pgdir/initdb.log" 2>&1
"${as_pg[@]}" "$pgbin/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" -w -o "-c listen_addresses='' -k $pgdir" start >/dev/null
MORVENT_TEST_PG="postgresql:///postgres?host=$pgdir&user=morvent" "$build/bin/server_bench" "$@"
