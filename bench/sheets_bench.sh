#!/usr/bin/env bash
# XLSX beside XML for N customers (default 100,000) through the tool: export
# of a ledger holding them to each format, and import of each file into a
# new ledger, with wall time and peak memory (GNU time). Usage:
#   bench/sheets_bench.sh [BIN_DIR] [N] [RUNS] [OTHER_BIN_DIR]
# Runs in a temporary folder removed at the end; prints one line per step
# and the XLSX/XML ratios. With OTHER_BIN_DIR, every step runs with that
# build's tool too, in turn with the first, and its lines and ratios follow
# ("before").
set -euo pipefail
bin="${1:-$(cd "$(dirname "$0")/.." && pwd)/build/bin}"
n="${2:-100000}"
runs="${3:-3}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
tool="$bin/morvent"
other="${4:-}"
tools=("$tool") tags=("")
[ -n "$other" ] && tools+=("$other/morvent") tags+=("_before")
export MORVENT_HOME="$work"
cp "$bin"/Schema*.xml "$work"/

python3 - "$n" "$work/seed.xml" <<'PY'
import sys
n, out = int(sys.argv[1]), sys.argv[2]
with open(out, 'w', encoding='utf-8') as f:
    f.write('<?xml version="1.0" encoding="UTF-8"?>\n<CustomerList xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">\n')
    for i in range(1, n + 1):
        f.write(f'  <Customer>\n    <Number>{i:06d}</Number>\n    <Name>客户{i}</Name>\n'
                f'    <Address>上海市浦东新区世纪大道 {i} 号</Address>\n    <Phone>021-5{i:07d}</Phone>\n'
                f'    <CreditDays>{i % 90}</CreditDays>\n    <CreditAmount>{i * 10.5}</CreditAmount>\n'
                f'    <TaxNum>91310000{i:010d}</TaxNum>\n  </Customer>\n')
    f.write('</CustomerList>\n')
PY

# once NAME COMMAND...: one run; keeps the best CPU time (and that run's
# wall time and peak memory) of NAME. The ratios are of CPU time, which
# other work on the machine disturbs least.
once() {
  local name="${1//-/_}"; shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
  read -r secs user sys kib <"$work/time"
  cpu=$(python3 -c "print('%.2f' % ($user + $sys))")
  local best="best_$name"
  if [ -z "${!best:-}" ] || python3 -c "import sys; sys.exit(not $cpu < ${!best})"; then
    eval "best_$name=$cpu wall_$name=$secs kib_$name=$kib"
  fi
}
show() {
  local name="${1//-/_}" best wall kib
  best="best_$name" wall="wall_$name" kib="kib_$name"
  printf '%-19s %8.2f s wall %8.2f s cpu %8d KiB\n' "$1" "${!wall}" "${!best}" "${!kib}"
}

"$tool" ledger init "$work/src.db" --acct-type QY 2>/dev/null
"$tool" import --quiet --ledger "$work/src.db" --type 客户 --file "$work/seed.xml" 2>/dev/null
for ((r = 0; r < runs; r++)); do
  for k in "${!tools[@]}"; do
    t="${tools[$k]}" g="${tags[$k]}"
    rm -f "$work/c$g.xml" "$work/c$g.xlsx" "$work"/[ab].db
    once "export-xml$g" "$t" export --quiet --ledger "$work/src.db" --type 客户 --file "$work/c$g.xml"
    once "export-xlsx$g" "$t" export --quiet --ledger "$work/src.db" --type 客户 --file "$work/c$g.xlsx"
    "$t" ledger init "$work/a.db" --acct-type QY 2>/dev/null
    "$t" ledger init "$work/b.db" --acct-type QY 2>/dev/null
    once "import-xml$g" "$t" import --quiet --ledger "$work/a.db" --type 客户 --file "$work/c$g.xml"
    once "import-xlsx$g" "$t" import --quiet --ledger "$work/b.db" --type 客户 --file "$work/c$g.xlsx"
  done
done
for g in "${tags[@]}"; do
  for s in export-xml export-xlsx import-xml import-xlsx; do show "$s$g"; done
  ls -l "$work/c$g.xml" "$work/c$g.xlsx" | awk '{print $5, $9}' | sed "s|$work/||"
  x="best_export_xlsx$g" y="best_export_xml$g" u="best_import_xlsx$g" v="best_import_xml$g"
  python3 -c "print('cpu, best of $runs${g:+ ($g)}: export xlsx/xml = %.2f, import xlsx/xml = %.2f' % (${!x} / ${!y}, ${!u} / ${!v}))"
done
