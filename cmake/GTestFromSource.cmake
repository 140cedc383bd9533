# GoogleTest built from the sources that Debian's libgtest-dev ships, for a
# cross build, where the host's prebuilt libraries cannot link. It gives the
# same GTest::gtest and GTest::gtest_main targets as find_package(GTest).
set(TARNWICK_GTEST_SOURCE /usr/src/googletest/googletest CACHE PATH
  "GoogleTest's source tree")
if(NOT EXISTS ${TARNWICK_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "no GoogleTest sources in ${TARNWICK_GTEST_SOURCE} (libgtest-dev)")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)

add_subdirectory(${TARNWICK_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Each test program lists its cases when ctest starts, under the emulator,
# rather than at build time, so building needs no wine or qemu.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

foreach(library gtest gtest_main)
  if(NOT TARGET GTest::${library})
    add_library(GTest::${library} ALIAS ${library})
  endif()
endforeach()
