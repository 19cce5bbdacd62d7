# Sourced: start_throwaway_pg starts a PostgreSQL cluster of its own in a
# temporary folder, reached only through a Unix socket there, and removes it
# when the calling script exits. The server refuses to run as root, so root
# runs it as postgres. Afterwards $pgdir is the socket folder, $pgbin the
# server's programs and $pg_base the connection URI of its "postgres"
# database ("postgresql:///DB?host=…&user=morvent" reaches another).
# `start_throwaway_pg unsynced` lets the server skip flushing to the disk,
# for the tests, which make a database each and keep nothing past the run;
# benchmarks and the main job keep the server's defaults.
start_throwaway_pg() {
  pgdir="$(mktemp -d "${TMPDIR:-/tmp}/morvent-pg.XXXXXX")"
  pgbin="$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)"
  local options="-c listen_addresses='' -k $pgdir"
  if [ "${1:-}" = unsynced ]; then options+=" -c fsync=off -c synchronous_commit=off -c full_page_writes=off"; fi
  as_pg=()
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres "$pgdir"
    as_pg=(runuser -u postgres --)
  fi
  trap stop_throwaway_pg EXIT
  if ! "${as_pg[@]}" "$pgbin/initdb" -D "$pgdir/data" -A trust -U morvent -E UTF8 --no-locale >"$pgdir/initdb.log" 2>&1 ||
    ! "${as_pg[@]}" "$pgbin/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" -w -o "$options" start >/dev/null; then
    echo "the throw-away PostgreSQL server did not start:" >&2
    cat "$pgdir"/*.log >&2
    exit 1
  fi
  pg_base="postgresql:///postgres?host=$pgdir&user=morvent"
}

stop_throwaway_pg() {
  "${as_pg[@]}" "$pgbin/pg_ctl" -D "$pgdir/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$pgdir"
}
