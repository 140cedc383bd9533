# Tests of a cross build run under wine. Each test program lists its cases
# when ctest starts rather than at build time, so building needs no wine.
# Listing has a timeout of a few seconds, which the first wine start of a run
# can outlast (it creates the prefix or starts wine's services), so that
# start is made once before any listing.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

if(CMAKE_CROSSCOMPILING_EMULATOR MATCHES "wine")
  set(tarnwick_wine_start ${CMAKE_BINARY_DIR}/wine_start.cmake)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR "]==] [==[" tarnwick_emulator)
  file(WRITE ${tarnwick_wine_start}
    "execute_process(COMMAND [==[${tarnwick_emulator}]==] wineboot OUTPUT_QUIET ERROR_QUIET)\n")
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY
    TEST_INCLUDE_FILES ${tarnwick_wine_start})
endif()
