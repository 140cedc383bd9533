# cpack reads this after CPackConfig.cmake, when it makes the packages.

# The archives' times are the last commit's, unless the caller chose one, so
# packages of one commit are the same bytes wherever they are built.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND CPACK_TARNWICK_SOURCE_DATE_EPOCH)
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_TARNWICK_SOURCE_DATE_EPOCH})
endif()

# Each package's description starts with its own synopsis, above which CPack
# would put the project's summary.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
