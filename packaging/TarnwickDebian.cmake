# With TARNWICK_DEBIAN_PACKAGES, as the `package` preset sets it (under
# /usr, with debug information, without build paths), `cpack` makes the
# Debian packages: tarnwick (the command and its manual page), libtarnwick1
# (the shared libraries), tarnwick-dev (headers, static archives, the CMake
# and pkg-config files), and the -dbgsym packages of the first two.
set(debian ${CMAKE_CURRENT_LIST_DIR}/debian)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VENDOR "Tarnwick developers")
set(TARNWICK_MAINTAINER "Tarnwick Maintainers <maintainers@tarnwick.example>"
  CACHE STRING "Maintainer field of the Debian packages")
set(CPACK_PACKAGE_CONTACT "${TARNWICK_MAINTAINER}")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool tool_dbgsym lib lib_dbgsym dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME tarnwick)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_DESCRIPTION "encrypts a file under a password
Tarnwick encrypts a file under a password and restores it: the password's
MD5 digest keys the Blowfish cipher, which enciphers the file in 8-byte
blocks. The output appears, complete, only when a run succeeds, and an
existing file is never overwritten.

The cipher runs in electronic-codebook mode without authentication: it
hides a file's bytes but neither their patterns nor tampering.")

set(CPACK_DEBIAN_LIB_PACKAGE_NAME libtarnwick${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
# CPack's own shlibs file would also list the -dbgsym packages' files.
configure_file(${debian}/shlibs.in shlibs @ONLY)
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA
  ${PROJECT_BINARY_DIR}/shlibs ${debian}/triggers)
# Files for the packages alone are EXCLUDE_FROM_ALL: a plain install of
# this build leaves them out, while CPack, installing by component, takes them.
install(FILES ${debian}/libtarnwick1.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
  RENAME ${CPACK_DEBIAN_LIB_PACKAGE_NAME} COMPONENT lib EXCLUDE_FROM_ALL)
set(CPACK_DEBIAN_LIB_DESCRIPTION "Blowfish and MD5 libraries of Tarnwick
The shared libraries under the Tarnwick file encryption tool:
libtarnwick_blowfish, the Blowfish cipher in electronic-codebook mode over
byte buffers, and libtarnwick_md5, RFC 1321 MD5 digests and the password key
that Tarnwick derives from them.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME tarnwick-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS lib)
set(CPACK_DEBIAN_DEV_DESCRIPTION "Blowfish and MD5 libraries of Tarnwick (development files)
Headers, static archives, a CMake package (find_package(Tarnwick)) and
pkg-config files (tarnwick-blowfish, tarnwick-md5) for programs that use
the Blowfish cipher class and the MD5 digest of the Tarnwick file
encryption tool.")

foreach(component tool lib)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_SHLIBDEPS ON)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(CPACK_DEBIAN_${upper}_DBGSYM_PACKAGE_NAME ${package}-dbgsym)
  set(CPACK_DEBIAN_${upper}_DBGSYM_PACKAGE_SECTION debug)
  set(CPACK_COMPONENT_${upper}_DBGSYM_DEPENDS ${component})
  set(CPACK_DEBIAN_${upper}_DBGSYM_DESCRIPTION "debug symbols for ${package}
The debug information of the binaries in ${package}, found by debuggers
through the link in each binary.")
endforeach()

# Every package carries the licence and the changelog in its own folder;
# a plain install has no packages, so none of those folders.
tarnwick_gzip(${debian}/changelog ${PROJECT_BINARY_DIR}/changelog.gz)
foreach(component ${CPACK_COMPONENTS_ALL})
  string(TOUPPER ${component} upper)
  set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  install(FILES ${debian}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
    DESTINATION ${doc} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

# The time of the last commit when the folder was configured, for the
# packages' timestamps.
execute_process(COMMAND git log -1 --format=%ct
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  OUTPUT_VARIABLE CPACK_TARNWICK_SOURCE_DATE_EPOCH
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/TarnwickCPackProject.cmake)
include(CPack)
