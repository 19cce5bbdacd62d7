#!/usr/bin/env bash
# Builds everything and runs every test suite.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/build.sh"
dir="${MORVENT_BUILD_DIR:-$root/build}"
# A throw-away PostgreSQL for the server ledger's tests: its own cluster in
# a temporary folder, reached only through a Unix socket there, removed at
# the end. The server refuses to run as root, so root runs it as postgres.
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
if ! "${as_pg[@]}" "$pgbin/initdb" -D "$pgdir/data" -A trust -U morvent -E UTF8 --no-locale >"$pgdir/initdb.log" 2>&1 ||
  ! "${as_pg[@]}" "$pgbin/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" -w \
    -o "-c listen_addresses='' -k $pgdir" start >/dev/null; then
  echo "the throw-away PostgreSQL server did not start:" >&2
  cat "$pgdir"/*.log >&2
  exit 1
fi
export MORVENT_TEST_PG="postgresql:///postgres?host=$pgdir&user=morvent"
# The ten slowest tests close every run, passed or not, so that slow ones
# stay few and named.
slowest() {
  echo "== the ten slowest tests (seconds)"
  sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) .* ([0-9.]+) sec$/\2 \1/p' "$dir/ctest.out" | sort -rn | head -n 10
}
status=0
(cd "$dir" && ctest --output-on-failure -j"$(nproc)") | tee "$dir/ctest.out" || status=$?
if [ "$status" -eq 0 ]; then
  # Every fuzz harness (five) for 24 seconds under the sanitizers; a crash fails.
  bash "$root/scripts/fuzz.sh" 24 || status=$?
fi
if [ "$status" -eq 0 ]; then
  # An installed copy serves a client program built three ways.
  bash "$root/scripts/consumer-test.sh" || status=$?
fi
slowest
exit "$status"
