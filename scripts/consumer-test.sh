#!/usr/bin/env bash
# Installs the library into a temporary prefix with `cmake --install`, then
# builds the program in tests/consumer twice against the installed copy -
# once through find_package(Morvent), once through pkg-config - and runs
# each build on ledgers made by the installed tool; then once more with the
# source tree as a subproject, which must build no test suite. Checks too that the
# installed tool finds its schemas in the prefix and that the include folder
# holds only the public headers. A plugin (a shared object with the static
# library linked in, as `pkg-config --static --libs` says) is loaded by a
# small host and exports through it. Then the library is built shared
# (BUILD_SHARED_LIBS) into a second prefix: its SONAME and exports are
# checked, and the consumer is built against it through find_package and
# through plain `pkg-config --libs`, and run.
#
# MORVENT_CONSUMER_BUILD names the build directory of the library (default
# build-consumer; the shared build goes beside it, with "-shared" added);
# everything else lives in a temporary folder removed at the end.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${MORVENT_CONSUMER_BUILD:-$root/build-consumer}"
work="$(mktemp -d "${TMPDIR:-/tmp}/morvent-consumer.XXXXXX")"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
sprefix="$work/prefix-shared"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
# Both builds compile the same position-independent objects, so with ccache
# the second compiles next to nothing.
install_into() {
  local dir="$1" into="$2"
  shift 2
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVENT_TESTS=OFF "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j2 --target morvent morvent_library >/dev/null
  cmake --install "$dir" --prefix "$into" >/dev/null
}
install_into "$build" "$prefix" -DBUILD_SHARED_LIBS=OFF
install_into "$build-shared" "$sprefix" -DBUILD_SHARED_LIBS=ON

fail() { echo "consumer test: $*" >&2; exit 1; }

# Only the public headers, all under morvent/.
[ "$(ls "$prefix/include")" = morvent ] || fail "include/ holds more than morvent/"
headers=$(cd "$prefix/include" && find . -type f | sort | tr '\n' ' ')
want="./morvent/context/property_string.h ./morvent/context/record.h ./morvent/error.h ./morvent/export_base.h ./morvent/front/export_base.h ./morvent/front/import_base.h ./morvent/import_base.h ./morvent/msgbox.h ./morvent/platform/error.h ./morvent/platform/export.h ./morvent/platform/msgbox.h ./morvent/platform/variant.h ./morvent/sheets.h ./morvent/sheets/exchange.h "
[ "$headers" = "$want" ] || fail "installed headers are: $headers"

# The installed tool, run from elsewhere with no MORVENT_HOME, finds its
# schemas under share/ and writes a data file.
unset MORVENT_HOME
mkdir -p "$work/run"
"$prefix/bin/morvent" ledger demo "$work/run/source.db" >/dev/null
"$prefix/bin/morvent" export --ledger "$work/run/source.db" --type 120 --file "$work/run/dept.xml" >/dev/null \
  || fail "the installed tool could not export"
[ -s "$work/run/dept.xml" ] || fail "the installed tool wrote no data file"

# Installed as a Debian tool is: a manual page, bash completion, the
# documentation with the licence.
for f in share/man/man1/morvent.1 share/bash-completion/completions/morvent share/doc/morvent/LICENSE \
         share/doc/morvent/cli.md share/doc/morvent/README.md; do
  [ -s "$prefix/$f" ] || fail "$f is not installed"
done
completed=$(PATH="$prefix/bin:$PATH" bash -c 'source "$1"; COMP_WORDS=(morvent export --type Dep); COMP_CWORD=3
  _morvent; echo "${COMPREPLY[*]}"' - "$prefix/share/bash-completion/completions/morvent")
[ "$completed" = Department ] || fail "the installed completion answers '$completed' for a kind name"

# Runs a built consumer (build folder $1) with the schemas and tool of the
# install prefix $2 on a demo ledger and an empty one, in the folder $3.
run_consumer() {
  # Chained: a caller's "|| fail" switches set -e off in here.
  local run="$3"
  mkdir -p "$run/home" && cp "$2"/share/morvent/schemas/*.xml "$run/home/" &&
    "$2/bin/morvent" ledger demo "$run/source.db" >/dev/null &&
    "$2/bin/morvent" ledger init "$run/target.db" >/dev/null &&
    "$1/morvent_consumer" "$run/home" "$run/source.db" "$run/target.db" "$run"
}

for via in cmake pkgconfig subdirectory; do
  cb="$work/build-$via"
  cmake -S "$root/tests/consumer" -B "$cb" -DMORVENT_CONSUMER_VIA=$via -DCMAKE_PREFIX_PATH="$prefix" \
    -DMORVENT_SOURCE="$root" >/dev/null
  if [ $via = subdirectory ] && cmake --build "$cb" --target help | grep -q 'test_'; then
    fail "a subproject build has test suites"
  fi
  cmake --build "$cb" -j2 --target morvent_consumer >/dev/null
  echo "-- consumer built through $via"
  run_consumer "$cb" "$prefix" "$work/run-$via" || fail "the $via build failed its checks"
done
pcdir() { dirname "$(find "$1" -name morvent.pc)"; }

# The schema folder, as pkg-config names it.
export PKG_CONFIG_PATH="$(pcdir "$prefix")"
[ "$(pkg-config --variable=schemadir morvent)" -ef "$prefix/share/morvent/schemas" ] \
  || fail "pkg-config names the schema folder $(pkg-config --variable=schemadir morvent)"

# A plugin with the static library inside, loaded by a host that knows only
# its C entry.
echo "-- a plugin linked with the static library"
g++ -std=c++20 -shared -fPIC -o "$work/plugin.so" "$root/tests/consumer/plugin.cpp" \
  $(pkg-config --cflags morvent) $(pkg-config --static --libs morvent) || fail "the plugin did not link"
g++ -std=c++20 -o "$work/host" "$root/tests/consumer/host.cpp" -ldl
run="$work/run-plugin"
mkdir -p "$run/home"
cp "$(pkg-config --variable=schemadir morvent)"/*.xml "$run/home/"
"$prefix/bin/morvent" ledger demo "$run/source.db" >/dev/null
MORVENT_HOME="$run/home" "$work/host" "$work/plugin.so" "$run/source.db" "$run/dept.xml" || fail "the plugin failed"

# The shared library: a SONAME, and nothing exported that the public
# headers do not declare.
lib="$(find "$sprefix" -name 'libmorvent.so.*.*.*')"
[ -n "$lib" ] && [ -L "$(dirname "$lib")/libmorvent.so" ] || fail "no shared library installed"
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libmorvent.so.1 ] || fail "the shared library's SONAME is '$soname'"
public='ExportBase|ImportBase|DryRun|ImportCounts|DataRecord|RecordCollection|OptionDictionary|Object|Variant|DateValue'
public+='|Error|ErrorDetail|MessageBoxes|SetMessageBoxes|CurrentMessageBoxes|SharedKey|NullToDefault|PropertyValue'
public+='|LedgerPropertyString|VarEquals|IsNumeric|FormatNumber|FormatDate|ParseDate|MakeDate|Now|ParseNumber'
public+='|ThrowTypeMismatch|ThrowOverflow|ThrowInvalidNull|ThrowObjectNotSet|ThrowNotSupported|ToError|operator[^(]*'
public+='|ExportSheet|ImportSheet|WriteSheetTemplate'
exported=$(nm -D --defined-only -C "$lib" | cut -d' ' -f3- | grep -E '^((typeinfo|typeinfo name|vtable|VTT) for )?morvent::' \
  | sed -E 's/^((typeinfo|typeinfo name|vtable|VTT) for )?morvent::([A-Za-z_]+).*/\3/' | sort -u)
echo "$exported" | grep -qx ExportBase || fail "the shared library does not export ExportBase"
internal=$(echo "$exported" | grep -Evx "$public" || true)
[ -z "$internal" ] || fail "the shared library exports more than the public API: $(echo $internal)"

export PKG_CONFIG_PATH="$(pcdir "$sprefix")"
pkg-config --cflags --libs morvent >/dev/null || fail "pkg-config --cflags --libs morvent failed for the shared library"
for via in cmake pkgconfig; do
  cb="$work/build-shared-$via"
  cmake -S "$root/tests/consumer" -B "$cb" -DMORVENT_CONSUMER_VIA=$via -DMORVENT_CONSUMER_SHARED=ON \
    -DCMAKE_PREFIX_PATH="$sprefix" >/dev/null
  cmake --build "$cb" -j2 --target morvent_consumer >/dev/null
  ldd "$cb/morvent_consumer" | grep -q "libmorvent.so.1 => $sprefix" || fail "the $via build does not use the shared library"
  echo "-- consumer built through $via against the shared library"
  run_consumer "$cb" "$sprefix" "$work/run-shared-$via" || fail "the shared $via build failed its checks"
done
echo "consumer test passed"
