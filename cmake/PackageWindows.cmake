# The Windows package: a zip of one folder that runs anywhere, and an installer made with NSIS.
# Both hold the program, the three Qt DLLs and the platform plugin it loads, the MinGW runtime
# DLLs that the program and Qt share (one C++ runtime in the process), the licence texts and a
# short read-me. The program uses the Fusion style, which is built into Qt's Widgets DLL, so no
# style plugin is shipped.
find_package(Qt6 REQUIRED COMPONENTS Widgets)

# One folder: the program beside the DLLs it loads.
install(TARGETS ostrane RUNTIME DESTINATION .)

install(FILES $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
        DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)

if(MINGW)
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
      message(FATAL_ERROR "The MinGW runtime DLL ${dll} was not found beside the compiler")
    endif()
    install(FILES ${path} DESTINATION .)
  endforeach()
  foreach(doc gcc-mingw-w64-base mingw-w64-x86-64-dev)
    if(EXISTS /usr/share/doc/${doc}/copyright)
      install(FILES /usr/share/doc/${doc}/copyright DESTINATION licenses/MinGW
              RENAME ${doc}.txt)
    endif()
  endforeach()
endif()

# Qt is shipped as DLLs under the LGPL, whose text (and the texts of what Qt bundles) goes along.
if(EXISTS "${QT6_INSTALL_PREFIX}/licenses")
  install(DIRECTORY "${QT6_INSTALL_PREFIX}/licenses/" DESTINATION licenses/Qt)
else()
  message(WARNING "Qt's licence texts are missing from ${QT6_INSTALL_PREFIX}/licenses")
endif()
# The program's own licence beside Qt's, with Windows line ends; the installer shows it too (CPack's
# default is a placeholder saying that there is no licence).
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" _ostrane_license)
string(REPLACE "\n" "\r\n" _ostrane_license "${_ostrane_license}")
file(WRITE "${PROJECT_BINARY_DIR}/LICENSE.txt" "${_ostrane_license}")
install(FILES "${PROJECT_BINARY_DIR}/LICENSE.txt" DESTINATION licenses/Ostrane)
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_BINARY_DIR}/LICENSE.txt")
configure_file(${PROJECT_SOURCE_DIR}/app/windows/README.txt.in ${PROJECT_BINARY_DIR}/README.txt @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)

# The DLLs come with their symbol tables; stripped like the program when the package is made.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    file(GLOB_RECURSE dlls \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/*.dll\")
    foreach(dll IN LISTS dlls)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \"\${dll}\")
    endforeach()
  endif()")

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_STRIP_FILES ON)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Ostrane)
set(CPACK_PACKAGE_EXECUTABLES ostrane Ostrane)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME "Ostrane ${PROJECT_VERSION}")
set(CPACK_NSIS_PACKAGE_NAME "Ostrane ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALLED_ICON_NAME ostrane.exe)
# A 64-bit installer for a 64-bit program: it runs where only 64-bit Windows programs can (a
# 64-bit Wine among them) and sees the 64-bit Program Files and registry without redirection.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
