#!/usr/bin/env bash
# The main job on the server ledger: for a GY demo ledger and a QY one, the
# whole ledger is exported from a ledger file, imported into a ledger in a
# PostgreSQL database, exported from there and the two folders compared file
# by file and record by record (equal between the engines and on the
# server). The server is a throw-away cluster of its own (initdb and pg_ctl
# in a temporary folder, reached only through a Unix socket there, run as
# postgres when the script runs as root), removed at the end. Fails on any
# error or difference.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${MORVENT_BUILD_DIR:-$root/build-demo}"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
mkdir -p "$dir"
if ! MORVENT_BUILD_DIR="$dir" bash "$root/scripts/build.sh" -DMORVENT_TESTS=OFF "${launcher[@]}" >"$dir/build.log" 2>&1; then
  cat "$dir/build.log"
  exit 1
fi
tool="$dir/bin/morvent"
out="${MORVENT_DEMO_DIR:-$root/demo-out/server}"
rm -rf "$out" && mkdir -p "$out"
export MORVENT_HOME="$out"
cp "$root"/schemas/*.xml "$out/"

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
psql=("$pgbin/psql" -q -h "$pgdir" -U morvent -d postgres)

failed=0
for kind in GY QY; do
  k="$out/$kind"
  mkdir -p "$k"
  db="ledger_$(echo "$kind" | tr 'A-Z' 'a-z')"
  "${psql[@]}" -c "CREATE DATABASE $db"
  server="postgresql:///$db?host=$pgdir&user=morvent"
  echo "== $kind 账套：账套文件导出 → 引入数据库服务器上的新账套 → 再导出 → 比较"
  "$tool" ledger demo "$k/source.db" --acct-type "$kind"
  "$tool" ledger init "$server" --acct-type "$kind"
  steps=(
    "export --ledger $k/source.db --all $k/first"
    "import --ledger $server --all $k/first"
    "export --ledger $server --all $k/second"
  )
  n=0
  for step in "${steps[@]}"; do
    n=$((n + 1))
    log="$k/step$n.log"
    echo "-- morvent $step（全部输出见 $log）"
    status=0
    # shellcheck disable=SC2086
    "$tool" $step --on-error skip 2>"$log" || status=$?
    grep -E '^(错误|失败|已中断|整账套|输出已无法写入)' "$log" || true
    if [ "$status" != 0 ]; then
      echo "!! 退出状态 $status：morvent $step"
      failed=1
    fi
  done
  echo "-- morvent compare $k/first $k/second"
  if ! "$tool" compare "$k/first" "$k/second" --acct-type "$kind"; then
    echo "!! $kind 账套在两种账套之间的导出不同（见上）"
    failed=1
  fi
done

echo "files in $out/{GY,QY}/{first,second}, exchange log: $out/Morvent_log.xml"
if [ "$failed" != 0 ]; then
  echo "往返未通过"
  exit 1
fi
echo "往返通过：GY 与 QY 账套从账套文件到数据库服务器的导出相同"
