#!/usr/bin/env bash
# Counts the SQL statements a command steps, by text, most frequent first:
# a small preloaded shim wraps sqlite3_step and writes each statement's text
# to a file. For the statements a record costs, divide by the record count.
#
#   bench/count_statements.sh [-n TOP] COMMAND [ARGS...]
#   bench/count_statements.sh build/bin/morvent import --ledger L.db --type 120 --file D.xml
#
# Needs a C compiler; the shim and the trace live in a temporary folder that
# is removed at the end. Works for programs that link SQLite dynamically.
set -euo pipefail
top=25
if [ "${1:-}" = -n ]; then
  top="$2"
  shift 2
fi
[ $# -ge 1 ] || { echo "usage: $0 [-n TOP] COMMAND [ARGS...]" >&2; exit 2; }
work="$(mktemp -d "${TMPDIR:-/tmp}/morvent-count-statements.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cat >"$work/shim.c" <<'C'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
typedef struct sqlite3_stmt sqlite3_stmt;
int sqlite3_step(sqlite3_stmt* s) {
  static int (*step)(sqlite3_stmt*);
  static const char* (*sql)(sqlite3_stmt*);
  static FILE* out;
  if (!step) {
    step = (int (*)(sqlite3_stmt*))dlsym(RTLD_NEXT, "sqlite3_step");
    sql = (const char* (*)(sqlite3_stmt*))dlsym(RTLD_NEXT, "sqlite3_sql");
    out = fopen(getenv("MORVENT_STATEMENT_TRACE"), "w");
  }
  if (out) {
    const char* text = sql(s);
    if (!text) text = "(no text)";
    for (; *text; ++text) fputc(*text == '\n' ? ' ' : *text, out);  /* one line a statement */
    fputc('\n', out);
  }
  return step(s);
}
C
cc -shared -fPIC -O2 -o "$work/shim.so" "$work/shim.c" -ldl
status=0
MORVENT_STATEMENT_TRACE="$work/trace" LD_PRELOAD="$work/shim.so" "$@" || status=$?
echo "statements stepped: $(wc -l <"$work/trace")"
sort "$work/trace" | uniq -c | sort -rn | head -n "$top" | cut -c1-160
exit "$status"
