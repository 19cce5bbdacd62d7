# Grouped writes count their rows through SQLite's pre-update hook, which
# only some builds of SQLite carry; without it the count triggers do.
# morvent_preupdate_hook(<root>) compiles <root>/store/ledger_counts.cpp with
# the hook when the SQLite found has it.
include(CheckLibraryExists)
function(morvent_preupdate_hook root)
  check_library_exists(sqlite3 sqlite3_preupdate_hook "" MORVENT_SQLITE_PREUPDATE_HOOK)
  if(MORVENT_SQLITE_PREUPDATE_HOOK)
    set_source_files_properties(${root}/store/ledger_counts.cpp PROPERTIES
                                COMPILE_DEFINITIONS SQLITE_ENABLE_PREUPDATE_HOOK)
  endif()
endfunction()
