# Builds the consumer against the tree installed in PREFIX, found through
# FINDER and linked with LINKAGE, and runs it: its answer must be right, and
# it must need the shared libraries exactly when linked with them.
file(REMOVE_RECURSE ${BUILD})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BUILD} -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${PREFIX} -DFINDER=${FINDER} -DLINKAGE=${LINKAGE}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}"
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD}
  COMMAND_ERROR_IS_FATAL ANY)
set(run ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${LIBDIR})
execute_process(COMMAND ${run} ${BUILD}/consumer OUTPUT_VARIABLE digest
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND readelf -d ${BUILD}/consumer OUTPUT_VARIABLE dynamic)
string(REGEX MATCHALL "libtarnwick_[a-z0-9]+\\.so\\.1" needed "${dynamic}")
list(SORT needed)
if(LINKAGE STREQUAL "shared")
  set(expected "libtarnwick_blowfish.so.1;libtarnwick_md5.so.1")
endif()
# OpenSSL's Blowfish agrees, given each 32-bit word byte-swapped both ways.
if(NOT digest STREQUAL "3400879ec6ff09cf537ef0af69788702" OR
   NOT "${needed}" STREQUAL "${expected}")
  message(FATAL_ERROR "digest ${digest}, needs [${needed}]")
endif()
