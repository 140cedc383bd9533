# Installs the libraries as a CMake package: find_package(Tarnwick) gives
# Tarnwick::blowfish and Tarnwick::md5.
include(CMakePackageConfigHelpers)

set(TARNWICK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tarnwick)

install(EXPORT TarnwickTargets NAMESPACE Tarnwick::
  DESTINATION ${TARNWICK_CMAKE_DIR})

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/TarnwickConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/TarnwickConfig.cmake
  INSTALL_DESTINATION ${TARNWICK_CMAKE_DIR})
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/TarnwickConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)

install(FILES ${CMAKE_CURRENT_BINARY_DIR}/TarnwickConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/TarnwickConfigVersion.cmake
  DESTINATION ${TARNWICK_CMAKE_DIR})
