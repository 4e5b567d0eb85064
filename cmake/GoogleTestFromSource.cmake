# GoogleTest built from source for a cross build, where the build machine's GoogleTest package
# (compiled for the build machine) cannot be used. Debian's "googletest" package ships the
# sources; the targets come out under the same names as find_package(GTest) gives.
set(OSTRANE_GOOGLETEST_SOURCE_DIR /usr/src/googletest
    CACHE PATH "GoogleTest sources used when cross-building")
if(NOT EXISTS ${OSTRANE_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${OSTRANE_GOOGLETEST_SOURCE_DIR} "
                      "(Debian package googletest, or set OSTRANE_GOOGLETEST_SOURCE_DIR)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${OSTRANE_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
