# The version, the title and the addresses, made from the project's version and home page for
# the code and the tests (ostrane/Version.h, on every target's include path) and for scripts
# (ostrane-version.sh in the build folder, to be sourced). The support address is the home
# page's host with "support@".
if(NOT OSTRANE_HOME_PAGE MATCHES "^https://([^/]+)/$")
  message(FATAL_ERROR "OSTRANE_HOME_PAGE is not of the form https://HOST/: ${OSTRANE_HOME_PAGE}")
endif()
set(OSTRANE_SUPPORT_MAIL "support@${CMAKE_MATCH_1}")
set(OSTRANE_TITLE "Ostrane ${PROJECT_VERSION}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in
               ${PROJECT_BINARY_DIR}/generated/ostrane/Version.h @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.sh.in ${PROJECT_BINARY_DIR}/ostrane-version.sh
               @ONLY)
include_directories(${PROJECT_BINARY_DIR}/generated)
