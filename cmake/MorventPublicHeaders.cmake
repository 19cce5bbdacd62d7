# The headers a client of the library includes: the two front-end classes and
# the values, records and errors they use, the message boxes through
# which the library warns and asks, the spreadsheet calls beside the two
# classes, and the mark of what it exports. Each is copied under
# <dir>/morvent/ with its own includes of project headers rewritten to
# "morvent/...", so a client needs only <dir> on its include path and the
# in-tree code keeps including them by their paths from the source root.
# <dir>/morvent/<name>.h forwards to the header a client most often wants.
set(MORVENT_PUBLIC_HEADERS
  front/export_base.h
  front/import_base.h
  context/record.h
  context/property_string.h
  platform/variant.h
  platform/error.h
  platform/msgbox.h
  platform/export.h
  sheets/exchange.h)

function(morvent_public_headers dir)
  foreach(header ${MORVENT_PUBLIC_HEADERS})
    set(source ${PROJECT_SOURCE_DIR}/${header})
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    file(READ ${source} text)
    string(REGEX MATCHALL "#include \"[^\"]+\"" included "${text}")
    foreach(line ${included})
      string(REGEX REPLACE "#include \"([^\"]+)\"" "\\1" path "${line}")
      if(NOT path IN_LIST MORVENT_PUBLIC_HEADERS)
        message(FATAL_ERROR "${header} includes ${path}, which is not a public header")
      endif()
    endforeach()
    string(REGEX REPLACE "#include \"([^\"]+)\"" "#include \"morvent/\\1\"" text "${text}")
    file(CONFIGURE OUTPUT ${dir}/morvent/${header} CONTENT "${text}" @ONLY)
  endforeach()
  foreach(forward export_base:front/export_base import_base:front/import_base error:platform/error
                  msgbox:platform/msgbox sheets:sheets/exchange)
    string(REPLACE ":" ";" pair ${forward})
    list(GET pair 0 name)
    list(GET pair 1 target)
    file(CONFIGURE OUTPUT ${dir}/morvent/${name}.h
         CONTENT "#pragma once\n#include \"morvent/${target}.h\"\n" @ONLY)
  endforeach()
endfunction()
