# The Debian package (`cpack -G DEB`): installed under /usr, its dependencies worked out by
# dpkg-shlibdeps from the libraries the program links, with the copyright file and the
# changelog that Debian expects of every package.

# The program, the menu entry, the software-centre metadata (both carry the reverse-DNS id of the
# home page), the icon and the manual page, compressed as Debian keeps them (-n: the same text
# gives the same file).
include(GNUInstallDirs)
set(_ostrane_app "${PROJECT_SOURCE_DIR}/app")
set(_ostrane_app_out "${PROJECT_BINARY_DIR}/app")
install(TARGETS ostrane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_ostrane_app}/org.example.ostrane.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${_ostrane_app}/org.example.ostrane.metainfo.xml.in
               ${_ostrane_app_out}/org.example.ostrane.metainfo.xml @ONLY)
install(FILES ${_ostrane_app_out}/org.example.ostrane.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_ostrane_app}/ostrane.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
configure_file(${_ostrane_app}/ostrane.1.in ${_ostrane_app_out}/ostrane.1 @ONLY)
find_program(OSTRANE_GZIP gzip REQUIRED)
execute_process(COMMAND "${OSTRANE_GZIP}" -9nc ostrane.1 OUTPUT_FILE ostrane.1.gz
                WORKING_DIRECTORY ${_ostrane_app_out} COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${_ostrane_app_out}/ostrane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_NAME ostrane)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# On a Wayland session the windows need Qt's Wayland plugin, which no library dependency brings;
# capture and clicks go through the desktop portal. Help and About open their links with
# xdg-open.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-wayland)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, xdg-desktop-portal")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

# The changelog's date is the release's, as the AppStream metadata and the manual page give it.
if(NOT OSTRANE_RELEASE_DATE MATCHES "^([0-9]+)-([0-9]+)-([0-9]+)$")
  message(FATAL_ERROR "OSTRANE_RELEASE_DATE is not of the form YYYY-MM-DD: ${OSTRANE_RELEASE_DATE}")
endif()
# Days since 1970-01-01 of the proleptic Gregorian date, for string(TIMESTAMP), which formats
# only the current time or SOURCE_DATE_EPOCH.
math(EXPR _y "${CMAKE_MATCH_1}")
math(EXPR _m "${CMAKE_MATCH_2}")
math(EXPR _d "${CMAKE_MATCH_3}")
if(_m LESS_EQUAL 2)
  math(EXPR _y "${_y} - 1")
  math(EXPR _m "${_m} + 9")
else()
  math(EXPR _m "${_m} - 3")
endif()
math(EXPR _era "${_y} / 400")
math(EXPR _yoe "${_y} - ${_era} * 400")
math(EXPR _doy "(153 * ${_m} + 2) / 5 + ${_d} - 1")
math(EXPR _doe "${_yoe} * 365 + ${_yoe} / 4 - ${_yoe} / 100 + ${_doy}")
math(EXPR _epoch "(${_era} * 146097 + ${_doe} - 719468) * 86400 + 12 * 3600")
set(_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${_epoch})
string(TIMESTAMP _ostrane_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${_saved_epoch}")

# The copyright file in Debian's machine-readable form, its holder and text taken from LICENSE:
# the text after the copyright line, each line indented by one space and empty ones written ".".
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" _ostrane_license)
if(NOT _ostrane_license MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(.*)$")
  message(FATAL_ERROR "LICENSE has no copyright line followed by the licence's text")
endif()
set(_ostrane_holder "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" _ostrane_terms)
string(REPLACE "\n\n" "\n.\n" _ostrane_terms "${_ostrane_terms}")
string(REPLACE "\n" "\n " _ostrane_terms "${_ostrane_terms}")
set(_ostrane_doc "${PROJECT_BINARY_DIR}/package-doc")
file(CONFIGURE OUTPUT "${_ostrane_doc}/copyright" CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Ostrane
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}
Source: ${CPACK_PACKAGE_HOMEPAGE_URL}

Files: *
Copyright: ${_ostrane_holder}
License: Expat
 ${_ostrane_terms}
")
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/changelog.Debian" CONTENT
"ostrane (${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}) stable; urgency=medium

  * Ostrane ${PROJECT_VERSION}.

 -- ${CPACK_PACKAGE_CONTACT}  ${_ostrane_changelog_date}
")
find_program(OSTRANE_GZIP gzip)
if(OSTRANE_GZIP)
  # -n: no name or time stamp inside, so the same changelog always compresses the same.
  execute_process(COMMAND "${OSTRANE_GZIP}" -9nc "${PROJECT_BINARY_DIR}/changelog.Debian"
                  OUTPUT_FILE "${_ostrane_doc}/changelog.Debian.gz" COMMAND_ERROR_IS_FATAL ANY)
endif()
# Copied into the package only; `cmake --install` leaves them out.
string(REGEX REPLACE "^/" "" _ostrane_prefix "${CPACK_PACKAGING_INSTALL_PREFIX}")
set(CPACK_INSTALLED_DIRECTORIES "${_ostrane_doc};${_ostrane_prefix}/share/doc/ostrane")
