# Installable packages of the program, made by `cpack` in a Release build folder
# (scripts/package makes the Debian one).

set(CPACK_PACKAGE_NAME ostrane)
set(CPACK_PACKAGE_VENDOR "The Ostrane project")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Ostrane developers <${OSTRANE_SUPPORT_MAIL}>")
set(CPACK_PACKAGE_HOMEPAGE_URL "${OSTRANE_HOME_PAGE}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Click a picture wherever it shows up on the screen")
# Lines of at most 72 characters: Debian shows them indented in an 80-column terminal.
set(CPACK_PACKAGE_DESCRIPTION
    "Ostrane watches the screen for a picture and left-clicks it wherever it
shows up. You mark two rectangles over the frozen screen: the one that
shows the picture, and the one in which to look for it and click. On
every interval Ostrane clicks the centre of the first match, within a
similarity you choose, and counts the clicks. F9 starts and F10 stops
from any window.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Ostrane)
set(CPACK_STRIP_FILES ON)

# The kinds of package the backends' systems take (each backend folder names its own: Deb,
# Windows), one Package<kind>.cmake each.
get_property(_ostrane_kinds GLOBAL PROPERTY OSTRANE_PACKAGE_KINDS)
list(REMOVE_DUPLICATES _ostrane_kinds)
if(TARGET ostrane)
  foreach(kind IN LISTS _ostrane_kinds)
    include(${CMAKE_CURRENT_LIST_DIR}/Package${kind}.cmake)
  endforeach()
endif()

include(CPack)
