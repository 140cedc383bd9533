# Cross build with Zig's clang, libc++ and libcs for TARNWICK_ZIG_TARGET:
# x86_64-macos.11.0, aarch64-macos.11.0 (built and linked here, never run;
# the version is the oldest macOS they load on), or x86_64-linux-musl,
# aarch64-linux-musl (static executables). cmake/zig.sh installs the pinned
# Zig from npm on first use.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARNWICK_ZIG_TARGET)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${TARNWICK_ZIG_TARGET}")
if(TARNWICK_ZIG_TARGET MATCHES "-macos")
  set(CMAKE_SYSTEM_NAME Darwin)
  # Nothing from a host SDK: Zig brings the macOS headers and libraries.
  set(CMAKE_OSX_SYSROOT "" CACHE PATH "")
  # The libraries are named by @rpath rather than the build folder, which
  # would make their bytes depend on where they were built; there is no
  # install_name_tool here to change it later.
  set(CMAKE_INSTALL_NAME_DIR @rpath)
  set(CMAKE_BUILD_WITH_INSTALL_NAME_DIR ON)
elseif(TARNWICK_ZIG_TARGET MATCHES "-linux")
  set(CMAKE_SYSTEM_NAME Linux)
else()
  message(FATAL_ERROR "TARNWICK_ZIG_TARGET: x86_64-macos.11.0, "
    "aarch64-macos.11.0, x86_64-linux-musl or aarch64-linux-musl, "
    "not '${TARNWICK_ZIG_TARGET}'")
endif()

execute_process(
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/zig.sh ${TARNWICK_ZIG_TARGET}
  OUTPUT_VARIABLE wrappers OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cmake/zig.sh could not set up Zig: its message is above")
endif()
set(CMAKE_C_COMPILER ${wrappers}/cc)
set(CMAKE_CXX_COMPILER ${wrappers}/c++)
set(CMAKE_AR ${wrappers}/ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${wrappers}/ranlib CACHE FILEPATH "")

if(CMAKE_SYSTEM_NAME STREQUAL Linux)
  set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
endif()
