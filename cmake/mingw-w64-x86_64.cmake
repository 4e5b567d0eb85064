# Cross-builds for 64-bit Windows with the mingw-w64 GCC of the posix threads flavour.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Programs that use Qt share the MinGW C++ runtime DLLs with Qt's own DLLs (one runtime in the
# process); the tests without Qt link it statically (tests/CMakeLists.txt).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OSTRANE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OSTRANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OSTRANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OSTRANE_MINGW_TRIPLE}-windres)

# Libraries, headers and CMake packages come from the target's root only, so that the build
# machine's own (Linux) packages are never picked up. A Qt for Windows installed elsewhere is
# added with -DCMAKE_FIND_ROOT_PATH=<its prefix>.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${OSTRANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests (and the test discovery) run through Wine, with the output's CR line ends removed.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
endif()
