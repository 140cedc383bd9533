# tarnwick_add_library(NAME DESCRIPTION TEXT SOURCES ... [DEFINITIONS ...])
# builds the library twice from the same sources: NAME, a static archive that
# this project's programs and tests link (the tests reach internals), and
# NAME_shared, libtarnwick_NAME.so.1, which exports only the names that the
# public header marks with TARNWICK_<NAME>_API. Both install as
# libtarnwick_NAME, with a pkg-config file; find_package(Tarnwick) gives
# Tarnwick::NAME (shared) and Tarnwick::NAME_static.
function(tarnwick_add_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" DESCRIPTION "SOURCES;DEFINITIONS")
  string(TOUPPER ${name} upper)
  add_library(${name} STATIC ${arg_SOURCES})
  add_library(${name}_shared SHARED ${arg_SOURCES})
  foreach(target ${name} ${name}_shared)
    target_include_directories(${target} PUBLIC
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
    target_compile_features(${target} PUBLIC cxx_std_20)
    target_compile_definitions(${target} PRIVATE ${arg_DEFINITIONS})
    set_target_properties(${target} PROPERTIES OUTPUT_NAME tarnwick_${name}
      CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  endforeach()
  set_target_properties(${name} PROPERTIES EXPORT_NAME ${name}_static)
  set_target_properties(${name}_shared PROPERTIES EXPORT_NAME ${name}
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    DEFINE_SYMBOL TARNWICK_${upper}_EXPORTS)
  if(WIN32)
    target_compile_definitions(${name}_shared INTERFACE TARNWICK_${upper}_DLL)
  endif()

  install(TARGETS ${name} ${name}_shared EXPORT TarnwickTargets
    RUNTIME COMPONENT lib
    LIBRARY COMPONENT lib NAMELINK_COMPONENT dev
    ARCHIVE COMPONENT dev)
  tarnwick_install_debug_info(${name}_shared lib ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${name}.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${name}
    COMPONENT dev)

  # Relative to its own folder, so the file holds wherever the tree installs.
  file(RELATIVE_PATH TARNWICK_PC_PREFIX
    ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  set(TARNWICK_PC_NAME ${name})
  set(TARNWICK_PC_DESCRIPTION ${arg_DESCRIPTION})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/tarnwick.pc.in
    tarnwick-${name}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarnwick-${name}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endfunction()
