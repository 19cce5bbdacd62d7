#!/usr/bin/env bash
# Builds the fuzz harnesses of fuzz/ with clang, libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer into build-fuzz/ (MORVENT_FUZZ_DIR to
# change it) and runs each for the given number of seconds (default 60).
# A crash, leak, sanitizer report or hang fails the script; the input that
# caused it is left in <build dir>/artifacts/.
#   bash scripts/fuzz.sh [seconds] [harness ...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
harnesses=("$@")
((${#harnesses[@]})) || harnesses=(props_fuzz reader_fuzz variant_fuzz import_fuzz limits_fuzz sheets_fuzz)

# clang and its libFuzzer and sanitizer runtimes come with the others.
bash "$root/scripts/setup.sh"

dir="${MORVENT_FUZZ_DIR:-$root/build-fuzz}"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
cmake -S "$root/fuzz" -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" --target "${harnesses[@]}"

mkdir -p "$dir/artifacts"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
for h in "${harnesses[@]}"; do
  # New inputs go to the build's own corpus; the committed seeds are only read.
  work="$dir/corpus/$h"
  mkdir -p "$work"
  # The harnesses fed data files get the XML tokens of fuzz/xml.dict.
  dict=()
  case "$h" in reader_fuzz | import_fuzz | limits_fuzz) dict=(-dict="$root/fuzz/xml.dict") ;; esac
  # MORVENT_FUZZ_REPLAY names harnesses that only replay their seeds (for
  # the time a fault one of them found is being mended).
  budget=(-max_total_time="$seconds")
  case " ${MORVENT_FUZZ_REPLAY:-} " in *" $h "*) budget=(-runs=0) ;; esac
  echo "== $h ${budget[*]}"
  "$dir/$h" "${dict[@]}" "${budget[@]}" -timeout=30 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$dir/artifacts/$h-" "$work" "$root/fuzz/corpus/$h" 2>"$dir/$h.log" || {
    tail -n 60 "$dir/$h.log"
    echo "fuzz: $h failed; the input is in $dir/artifacts/" >&2
    exit 1
  }
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$dir/$h.log" | sed "s/^/  /"
done
echo "fuzz: no crash in ${#harnesses[@]} harness(es), ${seconds}s each"
