# Install steps that Debian's packaging rules shape.

# tarnwick_gzip(INPUT OUTPUT) compresses INPUT at build time the way Debian
# wants manual pages and changelogs: at the highest level and with no name
# or time in the header, so the result depends on the bytes alone.
find_program(TARNWICK_GZIP gzip REQUIRED)

function(tarnwick_gzip input output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${TARNWICK_GZIP} -9nc ${input} > ${output}
    DEPENDS ${input} VERBATIM)
  string(MAKE_C_IDENTIFIER ${output} target)
  add_custom_target(${target} ALL DEPENDS ${output})
endfunction()

# tarnwick_install_debug_info(TARGET COMPONENT DESTINATION), for the Debian
# packages alone, copies TARGET's debug information into TARGET.debug after
# each link, leaves a link to it in the binary, and installs it as
# COMPONENT_dbgsym under lib/debug<DESTINATION made absolute>, where
# debuggers look for it; the packages ship the binary stripped. Those builds
# are native, so the host's objcopy reads what the compiler wrote. ELF only.
function(tarnwick_install_debug_info target component destination)
  if(NOT TARNWICK_DEBIAN_PACKAGES OR NOT CMAKE_EXECUTABLE_FORMAT STREQUAL "ELF")
    return()
  endif()
  set(binary $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${binary} ${binary}.debug
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=${binary}.debug ${binary}
    VERBATIM)
  cmake_path(ABSOLUTE_PATH destination BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX})
  install(FILES ${binary}.debug
    DESTINATION lib/debug${destination} COMPONENT ${component}_dbgsym
    EXCLUDE_FROM_ALL)
endfunction()
