# Makes web/page.h: the page's HTML with its style sheet and script put in
# place of the /*STYLE*/ and /*SCRIPT*/ marks, as one C++ raw string.
# Run as: cmake -DPAGE_DIR=... -DOUT=... -P EmbedPage.cmake
file(READ ${PAGE_DIR}/index.html html)
file(READ ${PAGE_DIR}/style.css css)
file(READ ${PAGE_DIR}/app.js js)
string(REPLACE "/*STYLE*/" "${css}" html "${html}")
string(REPLACE "/*SCRIPT*/" "${js}" html "${html}")
string(FIND "${html}" ")MORVENTPAGE\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "the page holds the raw string's end mark")
endif()
file(WRITE ${OUT}.tmp "#pragma once\n// Generated from web/page by cmake/EmbedPage.cmake.\nnamespace morvent::web {\ninline constexpr const char* kPage = R\"MORVENTPAGE(${html})MORVENTPAGE\";\n}\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
