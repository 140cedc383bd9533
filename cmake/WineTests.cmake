# Tests of a cross build run under wine. Each test program lists its cases
# when ctest starts rather than at build time, so building needs no wine.
# .ci/wine.sh keeps one wine server up for the whole run: started afresh
# for every test, wine takes seconds each time and may drop a test that
# starts while the last one's server shuts down.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
