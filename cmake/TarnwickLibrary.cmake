# tarnwick_add_library(NAME DESCRIPTION TEXT SOURCES ... [DEFINITIONS ...])
# compiles the sources once, position-independent, into two libraries: NAME,
# a static archive that this project's programs and tests link (the tests
# reach internals), and NAME_shared, libtarnwick_NAME.so.1, which exports
# only the names that the public header marks with TARNWICK_<NAME>_API. Both
# install as libtarnwick_NAME, with a pkg-config file; find_package(Tarnwick)
# gives Tarnwick::NAME (shared) and Tarnwick::NAME_static.
function(tarnwick_add_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" DESCRIPTION "SOURCES;DEFINITIONS")
  string(TOUPPER ${name} upper)
  add_library(${name}_objects OBJECT ${arg_SOURCES})
  target_link_libraries(${name}_objects PRIVATE tarnwick_warnings)
  # Defined for the archive too: on Windows its objects then carry the DLL's
  # export marks, which a program linking the archive ignores.
  target_compile_definitions(${name}_objects PRIVATE
    ${arg_DEFINITIONS} TARNWICK_${upper}_EXPORTS)
  set_target_properties(${name}_objects PROPERTIES POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  add_library(${name} STATIC $<TARGET_OBJECTS:${name}_objects>)
  add_library(${name}_shared SHARED $<TARGET_OBJECTS:${name}_objects>)
  foreach(target ${name}_objects ${name} ${name}_shared)
    target_include_directories(${target} PUBLIC
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
    target_compile_features(${target} PUBLIC cxx_std_20)
  endforeach()
  set_target_properties(${name} ${name}_shared PROPERTIES
    OUTPUT_NAME tarnwick_${name})
  set_target_properties(${name} PROPERTIES EXPORT_NAME ${name}_static)
  set_target_properties(${name}_shared PROPERTIES EXPORT_NAME ${name}
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
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
