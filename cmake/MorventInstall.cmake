# `cmake --install` lays out the library, its public headers, the tool with
# its manual page and completion, the documentation and the schema files
# under the prefix, with a package configuration for
# find_package(Morvent) and morvent.pc for pkg-config. The tool finds the
# schemas from bin/ at ../share/morvent/schemas.
include(CMakePackageConfigHelpers)

set(MORVENT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Morvent)
set(MORVENT_SCHEMA_DIR ${CMAKE_INSTALL_DATADIR}/morvent/schemas)
file(RELATIVE_PATH MORVENT_INSTALLED_SCHEMAS ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${MORVENT_SCHEMA_DIR})
# A shared library finds them from its own folder, the library folder.
file(RELATIVE_PATH MORVENT_INSTALLED_SCHEMAS_FROM_LIB ${CMAKE_INSTALL_FULL_LIBDIR}
     ${CMAKE_INSTALL_PREFIX}/${MORVENT_SCHEMA_DIR})
set_property(SOURCE ${PROJECT_SOURCE_DIR}/platform/progdir.cpp TARGET_DIRECTORY morvent_objects
             APPEND PROPERTY COMPILE_DEFINITIONS MORVENT_INSTALLED_SCHEMAS="${MORVENT_INSTALLED_SCHEMAS}"
             MORVENT_INSTALLED_SCHEMAS_FROM_LIB="${MORVENT_INSTALLED_SCHEMAS_FROM_LIB}")

install(TARGETS morvent_library EXPORT MorventTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS morvent RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_BINARY_DIR}/include/morvent DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${MORVENT_SCHEMAS} DESTINATION ${MORVENT_SCHEMA_DIR})

# As a Debian tool: its manual page, bash completion (found by name on
# demand), and the documentation with the licence.
install(FILES ${PROJECT_SOURCE_DIR}/docs/morvent.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/cli/morvent.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME morvent)
file(GLOB MORVENT_DOCS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${MORVENT_DOCS} ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/morvent)

install(EXPORT MorventTargets NAMESPACE Morvent:: DESTINATION ${MORVENT_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/MorventConfig.cmake.in
  ${PROJECT_BINARY_DIR}/MorventConfig.cmake INSTALL_DESTINATION ${MORVENT_CMAKE_DIR}
  PATH_VARS MORVENT_SCHEMA_DIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/MorventConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/MorventConfig.cmake ${PROJECT_BINARY_DIR}/MorventConfigVersion.cmake
        DESTINATION ${MORVENT_CMAKE_DIR})

# A static library needs its private dependencies on the link line: a
# program linking it through pkg-config asks for `--static` to get them; a
# shared one carries them itself.
set(MORVENT_PC_DL "")
foreach(lib ${CMAKE_DL_LIBS})
  string(APPEND MORVENT_PC_DL " -l${lib}")
endforeach()
# The prefix is found from the .pc file's own place, so an install with
# `cmake --install --prefix` elsewhere, or a moved tree, stays right.
file(RELATIVE_PATH MORVENT_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
configure_file(${PROJECT_SOURCE_DIR}/morvent.pc.in ${PROJECT_BINARY_DIR}/morvent.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/morvent.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
