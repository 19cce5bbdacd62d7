#!/usr/bin/env bash
# Installs the library into a temporary prefix with `cmake --install`, then
# builds the program in tests/consumer twice against the installed copy -
# once through find_package(Morvent), once through pkg-config - and runs
# each build on ledgers made by the installed tool; then once more with the
# source tree as a subproject, which must build no test suite. Checks too that the
# installed tool finds its schemas in the prefix and that the include folder
# holds only the public headers.
#
# MORVENT_CONSUMER_BUILD names the build directory of the library (default
# build-consumer); everything else lives in a temporary folder removed at the end.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${MORVENT_CONSUMER_BUILD:-$root/build-consumer}"
work="$(mktemp -d "${TMPDIR:-/tmp}/morvent-consumer.XXXXXX")"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVENT_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target morvent morvent_library >/dev/null
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "consumer test: $*" >&2; exit 1; }

# Only the public headers, all under morvent/.
[ "$(ls "$prefix/include")" = morvent ] || fail "include/ holds more than morvent/"
headers=$(cd "$prefix/include" && find . -type f | sort | tr '\n' ' ')
want="./morvent/context/property_string.h ./morvent/context/record.h ./morvent/error.h ./morvent/export_base.h ./morvent/front/export_base.h ./morvent/front/import_base.h ./morvent/import_base.h ./morvent/msgbox.h ./morvent/platform/error.h ./morvent/platform/msgbox.h ./morvent/platform/variant.h "
[ "$headers" = "$want" ] || fail "installed headers are: $headers"

# The installed tool, run from elsewhere with no MORVENT_HOME, finds its
# schemas under share/ and writes a data file.
unset MORVENT_HOME
mkdir -p "$work/run"
"$prefix/bin/morvent" ledger demo "$work/run/source.db" >/dev/null
"$prefix/bin/morvent" export --ledger "$work/run/source.db" --type 120 --file "$work/run/dept.xml" >/dev/null \
  || fail "the installed tool could not export"
[ -s "$work/run/dept.xml" ] || fail "the installed tool wrote no data file"

for via in cmake pkgconfig subdirectory; do
  cb="$work/build-$via"
  cmake -S "$root/tests/consumer" -B "$cb" -DMORVENT_CONSUMER_VIA=$via -DCMAKE_PREFIX_PATH="$prefix" \
    -DMORVENT_SOURCE="$root" >/dev/null
  if [ $via = subdirectory ] && cmake --build "$cb" --target help | grep -q 'test_'; then
    fail "a subproject build has test suites"
  fi
  cmake --build "$cb" -j2 --target morvent_consumer >/dev/null
  run="$work/run-$via"
  mkdir -p "$run/home"
  cp "$prefix"/share/morvent/schemas/*.xml "$run/home/"
  "$prefix/bin/morvent" ledger demo "$run/source.db" >/dev/null
  "$prefix/bin/morvent" ledger init "$run/target.db" >/dev/null
  echo "-- consumer built through $via"
  "$cb/morvent_consumer" "$run/home" "$run/source.db" "$run/target.db" "$run" || fail "the $via build failed its checks"
done
echo "consumer test passed"
