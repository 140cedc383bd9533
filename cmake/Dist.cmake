# The dist preset's build: each desktop's release executable built through
# its own preset, copied into build/dist under a name that carries the
# version and the target, with a SHA256SUMS beside them. The sub-builds run
# one at a time, since each already keeps both cores busy.
set(dist ${PROJECT_SOURCE_DIR}/build/dist)
# The macOS executables are only built and linked here, never run.
set(targets x86_64-linux aarch64-linux x86_64-macos aarch64-macos
  x86_64-windows)

set(binaries)
foreach(target ${targets})
  set(suffix "")
  if(target MATCHES "windows")
    set(suffix .exe)
  endif()
  set(name Tarnwick-${PROJECT_VERSION}-${target}${suffix})
  add_custom_target(dist-${target}
    COMMAND ${CMAKE_COMMAND} --preset ${target}
    COMMAND ${CMAKE_COMMAND} --build --preset ${target} --target Tarnwick
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dist}
    COMMAND ${CMAKE_COMMAND} -E copy build/${target}/tool/Tarnwick${suffix}
      ${dist}/${name}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} USES_TERMINAL VERBATIM)
  list(APPEND binaries ${name})
endforeach()

add_custom_target(dist ALL
  COMMAND sh -c "sha256sum \"$@\" >SHA256SUMS" sh ${binaries}
  WORKING_DIRECTORY ${dist} VERBATIM)
list(TRANSFORM targets PREPEND dist- OUTPUT_VARIABLE steps)
add_dependencies(dist ${steps})
