#!/usr/bin/env bash
# Exchanges of the `morvent` tool side by side with the least work the same
# job needs (bench/least_work.cpp): builds Release with benchmarks, generates
# a file of about 10,000 and one of about 100,000 records, then, in
# alternating rounds, imports each into a new ledger and exports it again
# with both programs. Prints the best time of each, the ratios, the growth
# from the small file to the large one, and the peak resident memory against
# the file, beside the targets.
#
#   scripts/bench-exchange.sh [ROUNDS] [departments|customers|accounts|materials]
#
# ROUNDS defaults to 5, the kind to departments. Departments and customers
# come in three levels (9,905 and 99,050 records); customers (code 110) carry
# the fifteen leaves besides number and name that the tool writes for a
# ledger without "GY". Accounts are a chart five levels deep (10,000 and
# 100,000), each with a currency, its type and one item class; the tool
# imports them into a new ledger. Materials (10,001 and 100,010) repeat the
# GY demo's richest leaf under a three-level tree (bench/material_file_gen.py);
# the tool imports them into a copy of a GY ledger that holds the demo's
# other data (the target of the demo's round trip), so every reference is
# found. For these two the least work's ledger is made first with the
# references the file holds (`least_work prepare`, not measured).
#
# MORVENT_BENCH_DIR names the build directory (default build-bench);
# MORVENT_BENCH_SIZES="SMALL LARGE" replaces the two sizes (tops for
# departments, customers and materials, a count for accounts);
# MORVENT_BENCH_NO_BUILD=1 skips the build. Every file lives in a temporary
# folder that is removed at the end. The two exports of each size are
# compared byte for byte: a difference means the two programs did not do the
# same job, and the run fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
rounds="${1:-5}"
kind="${2:-departments}"
# Per kind: the tool's code, the record element, the generator's argument
# for each size, and the targets (import and export ÷ least work, import
# peak memory ÷ file).
case "$kind" in
  departments) code=120 element=Department sizes=(5 50) targets=(1.8 1.2 2) ;;
  customers) code=110 element=Customer sizes=(5 50) targets=(2 1.5 2) ;;
  accounts) code=102 element=Account sizes=(10000 100000) targets=(2 1.5 2) ;;
  materials) code=116 element=Material sizes=(1 10) targets=(2 1.5 1.5) ;;
  *) echo "usage: $0 [ROUNDS] [departments|customers|accounts|materials]" >&2; exit 2 ;;
esac
# MORVENT_BENCH_SIZES="SMALL LARGE" replaces the generator's two arguments
# (for a quick trial of the script itself).
[ -n "${MORVENT_BENCH_SIZES:-}" ] && read -ra sizes <<<"$MORVENT_BENCH_SIZES"
nested=0
[[ $kind == accounts || $kind == materials ]] && nested=1
build="${MORVENT_BENCH_DIR:-$root/build-bench}"

if [ "${MORVENT_BENCH_NO_BUILD:-0}" != 1 ]; then
  bash "$root/scripts/setup.sh"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMORVENT_BENCH=ON -DMORVENT_TESTS=OFF >/dev/null
  cmake --build "$build" -j2 --target morvent least_work >/dev/null
fi
lw="$build/bin/least_work"
tool="$build/bin/morvent"
work="$(mktemp -d "${TMPDIR:-/tmp}/morvent-bench-exchange.XXXXXX")"
trap 'rm -rf "$work"' EXIT
# The tool finds its schema and writes its exchange log in MORVENT_HOME.
cp "$root"/schemas/*.xml "$work/"
export MORVENT_HOME="$work"
schema="$work/Schema$element.xml"

# measure NAME CMD...: runs CMD under the wrapper, keeps "wall cpu peak" in
# $work/NAME.times (one line per round) and fails loudly when CMD fails.
measure() {
  local name="$1"
  shift
  if ! "$lw" run "$@" 2>"$work/last.err" >/dev/null; then
    echo "failed: $*" >&2
    cat "$work/last.err" >&2
    exit 1
  fi
  tail -n 1 "$work/last.err" >>"$work/$name.times"
}

# The tool's summary must count every record and no error.
check_summary() {
  local want="$1"
  if ! grep -q "：$want 行，0 个错误" "$work/last.err"; then
    echo "the tool did not exchange all $want $kind without error:" >&2
    cat "$work/last.err" >&2
    exit 1
  fi
}

# The yardstick must refuse what the tool refuses, or it would be measuring
# less than the job: a DOCTYPE, a key the schema does not know, a file cut
# short. Each refusal must leave no ledger behind.
hostile=(
  "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY a \"aa\">]><${element}List><$element><Number>&a;</Number></$element></${element}List>"
  "<${element}List><$element><Number>01</Number><Boss>x</Boss></$element></${element}List>"
  "<${element}List><$element><Number>01</Number>"
)
# For accounts and materials the ledger is prepared first, and must stay
# without records.
for text in "${hostile[@]}"; do
  printf '%s' "$text" >"$work/hostile.xml"
  if ((nested)); then
    rm -f "$work"/hostile.db*
    printf '<%sList/>' "$element" >"$work/empty.xml"
    "$lw" prepare "$work/empty.xml" "$work/hostile.db" "$kind" 2>/dev/null
    if "$lw" import "$work/hostile.xml" "$schema" "$work/hostile.db" "$kind" 2>/dev/null ||
      [ "$(sqlite3 "$work/hostile.db" 'SELECT count(*) FROM item')" != 0 ]; then
      echo "least_work accepted, or stored records from, the file: $text" >&2
      exit 1
    fi
    rm -f "$work"/hostile.db*
  elif "$lw" import "$work/hostile.xml" "$schema" "$work/hostile.db" "$kind" 2>/dev/null || ls "$work"/hostile.db* >/dev/null 2>&1; then
    echo "least_work accepted, or left a ledger after, the file: $text" >&2
    exit 1
  fi
done

# The tool's target for materials: a GY ledger holding the demo's data but
# its materials, and the demo's materials as that ledger exports them (the
# source of the generated file, so that its references read back the same).
if [ "$kind" = materials ]; then
  "$tool" ledger demo "$work/demo.db" --acct-type GY >/dev/null 2>&1
  "$tool" export --ledger "$work/demo.db" --all "$work/demo" >/dev/null 2>&1
  mv "$work/demo/Material.xml" "$work/demo-materials.xml"
  "$tool" ledger init --acct-type GY "$work/target.db" >/dev/null 2>&1
  "$tool" import --ledger "$work/target.db" --all "$work/demo" --on-error skip >/dev/null 2>&1
  cp "$work/target.db" "$work/source.db"
  "$tool" import --ledger "$work/source.db" --type 116 --file "$work/demo-materials.xml" --on-error skip >/dev/null 2>&1
  "$tool" export --ledger "$work/source.db" --type 116 --file "$work/source.xml" >/dev/null 2>&1
  rm -rf "$work/demo" "$work"/demo.db* "$work"/source.db*
fi

declare -A count bytes
for tops in "${sizes[@]}"; do
  file="$work/$kind-$tops.xml"
  case $kind in
    departments | customers)
      "$lw" gen "$tops" "$file" "$kind" 2>/dev/null
      count[$tops]=$((tops * (1 + 20 * 99))) ;;  # 5 × (1 + 20 × 99) = 9,905; 50 × ... = 99,050
    accounts)
      "$lw" gen "$tops" "$file" accounts 2>/dev/null
      count[$tops]=$tops ;;
    materials)
      python3 "$root/bench/material_file_gen.py" "$work/source.xml" "$tops" 100 "$file"
      count[$tops]=$((tops * (1 + 100 * 100))) ;;  # 1 × (1 + 100 × (1 + 99)) = 10,001
  esac
  bytes[$tops]=$(stat -c %s "$file")
  if ((nested)); then
    rm -f "$work"/prepared.db*
    "$lw" prepare "$file" "$work/prepared.db" "$kind" 2>/dev/null
  fi
  printf 'file of %d %s: %.1f MB\n' "${count[$tops]}" "$kind" "$(awk "BEGIN{print ${bytes[$tops]}/1e6}")"
  for ((r = 1; r <= rounds; r++)); do
    lwdb="$work/lw-$tops.db" tooldb="$work/tool-$tops.db"
    lwout="$work/lw-$tops-out.xml" toolout="$work/tool-$tops-out.xml"
    rm -f "$lwdb"* "$tooldb"* "$lwout" "$toolout"
    if [ "$kind" = materials ]; then
      cp "$work/target.db" "$tooldb"
    else
      "$tool" ledger init "$tooldb" >/dev/null 2>&1
    fi
    ((nested)) && cp "$work/prepared.db" "$lwdb"
    # Alternate who goes first, so that a change in the machine's load
    # weighs on both.
    steps=(lw_import tool_import lw_export tool_export)
    ((r % 2 == 0)) && steps=(tool_import lw_import tool_export lw_export)
    for step in "${steps[@]}"; do
      case $step in
        lw_import) measure "lw-import-$tops" "$lw" import "$file" "$schema" "$lwdb" "$kind" ;;
        tool_import)
          measure "tool-import-$tops" "$tool" import --ledger "$tooldb" --type "$code" --file "$file" --on-error skip
          check_summary "${count[$tops]}" ;;
        lw_export) measure "lw-export-$tops" "$lw" export "$lwdb" "$lwout" "$kind" ;;
        tool_export)
          measure "tool-export-$tops" "$tool" export --ledger "$tooldb" --type "$code" --file "$toolout" --on-error skip
          check_summary "${count[$tops]}" ;;
      esac
    done
    if ! cmp -s "$lwout" "$toolout"; then
      echo "the two exports of $tops top-level $kind differ:" >&2
      diff "$lwout" "$toolout" | head -n 20 >&2
      exit 1
    fi
    echo "  round $r done"
  done
  rm -f "$work"/lw-"$tops"* "$work"/tool-"$tops"* "$file"
done

# best NAME COLUMN: the least value of a column over the rounds (1 wall,
# 2 CPU, 3 peak kB is taken as the greatest instead).
best() { awk -v c="$2" 'NR==1||(c<3&&$c<m)||(c==3&&$c>m){m=$c} END{print m}' "$work/$1.times"; }
ratio() { awk "BEGIN{printf \"%.2f\", $1/$2}"; }

echo
echo "$kind, best of $rounds rounds; wall and CPU (user + system) seconds, peak resident MB"
printf '%-9s %-14s %8s %8s %8s %10s\n' records run wall cpu peak peak/file
for tops in "${sizes[@]}"; do
  for run in lw-import tool-import lw-export tool-export; do
    n="$run-$tops"
    printf '%-9s %-14s %8.3f %8.3f %8.1f %10.2f\n' "${count[$tops]}" "$run" "$(best "$n" 1)" "$(best "$n" 2)" \
      "$(awk "BEGIN{print $(best "$n" 3)*1024/1e6}")" "$(awk "BEGIN{print $(best "$n" 3)*1024/${bytes[$tops]}}")"
  done
done

small=${sizes[0]} large=${sizes[1]}
echo
echo "tool / least work (target: import ≤ ${targets[0]}, export ≤ ${targets[1]})"
for tops in "${sizes[@]}"; do
  for op in import export; do
    printf '  %-6s %6d: wall %s  cpu %s\n' "$op" "${count[$tops]}" \
      "$(ratio "$(best "tool-$op-$tops" 1)" "$(best "lw-$op-$tops" 1)")" \
      "$(ratio "$(best "tool-$op-$tops" 2)" "$(best "lw-$op-$tops" 2)")"
  done
done

echo
echo "t(${count[$large]}) / t(${count[$small]}) (target ≤ 11; the counts grow $(ratio "${count[$large]}" "${count[$small]}") times)"
for run in lw-import tool-import lw-export tool-export; do
  printf '  %-12s wall %s  cpu %s\n' "$run" "$(ratio "$(best "$run-$large" 1)" "$(best "$run-$small" 1)")" \
    "$(ratio "$(best "$run-$large" 2)" "$(best "$run-$small" 2)")"
done

echo
printf 'peak memory of the tool'"'"'s import of %d: %.1f MB, %.2f × the %.1f MB file (target ≤ %s)\n' "${count[$large]}" \
  "$(awk "BEGIN{print $(best tool-import-$large 3)*1024/1e6}")" \
  "$(awk "BEGIN{print $(best tool-import-$large 3)*1024/${bytes[$large]}}")" "$(awk "BEGIN{print ${bytes[$large]}/1e6}")" \
  "${targets[2]}"
printf 'export peak memory growth / file growth, %d → %d: tool %.3f, least work %.3f (target ≤ 0.1)\n' \
  "${count[$small]}" "${count[$large]}" \
  "$(awk "BEGIN{print ($(best tool-export-$large 3)-$(best tool-export-$small 3))*1024/(${bytes[$large]}-${bytes[$small]})}")" \
  "$(awk "BEGIN{print ($(best lw-export-$large 3)-$(best lw-export-$small 3))*1024/(${bytes[$large]}-${bytes[$small]})}")"
