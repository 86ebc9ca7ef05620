# The product version and the source revision, decided once for the whole
# tree: the start-up banner and the metrics' build information show them.
#
#   D2T_PRODUCT_VERSION  project version with the package release suffix
#                        (3.0.0-1); also the Debian package's version
#   D2T_REVISION         STARTER_REVISION when set, else the short git
#                        commit of the source tree at configure time, else
#                        "unknown" (not a checkout)
set(STARTER_PACKAGE_RELEASE "1" CACHE STRING "Package release suffix of the product version")
set(STARTER_REVISION "" CACHE STRING "Source revision shown in the banner (default: git HEAD)")
set(D2T_PRODUCT_VERSION "${PROJECT_VERSION}-${STARTER_PACKAGE_RELEASE}")
set(D2T_REVISION "${STARTER_REVISION}")
if(D2T_REVISION STREQUAL "")
  execute_process(
    COMMAND git rev-parse --short=8 HEAD
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE D2T_REVISION
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET
    RESULT_VARIABLE d2t_git_rc)
  if(NOT d2t_git_rc EQUAL 0 OR D2T_REVISION STREQUAL "")
    set(D2T_REVISION "unknown")
  endif()
endif()
