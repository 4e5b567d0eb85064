# The Wayland backend's parts: their unit tests run anywhere, the live test inside
# scripts/wayland-session (it skips itself elsewhere). Built where the parts library is, that is
# in the whole project's build.
if(TARGET platform_wayland_parts)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(WL_PARTS_GIO REQUIRED IMPORTED_TARGET gio-2.0 gio-unix-2.0)
  add_executable(wayland_parts_tests ${CMAKE_CURRENT_LIST_DIR}/pixel_test.cpp
                                     ${CMAKE_CURRENT_LIST_DIR}/frames_test.cpp
                                     ${CMAKE_CURRENT_LIST_DIR}/portal_session_test.cpp)
  target_link_libraries(wayland_parts_tests PRIVATE platform_wayland_parts PkgConfig::WL_PARTS_GIO
                                                    GTest::gtest_main)
  gtest_discover_tests(wayland_parts_tests DISCOVERY_MODE PRE_TEST)

  # The portal's global shortcuts, through the backend: a program of its own, since it keeps one
  # private bus for all its tests.
  if(TARGET platform_wayland)
    add_executable(wayland_global_shortcuts_tests ${CMAKE_CURRENT_LIST_DIR}/global_shortcuts_test.cpp)
    target_link_libraries(wayland_global_shortcuts_tests PRIVATE platform_wayland
                                                                 PkgConfig::WL_PARTS_GIO GTest::gtest_main)
    gtest_discover_tests(wayland_global_shortcuts_tests DISCOVERY_MODE PRE_TEST
                         TEST_PREFIX global_shortcuts.)
  endif()

  find_package(Qt6 REQUIRED COMPONENTS Gui)
  add_executable(wayland_portal_live_test ${CMAKE_CURRENT_LIST_DIR}/portal_live_test.cpp)
  target_link_libraries(wayland_portal_live_test PRIVATE platform_wayland_parts GTest::gtest
                                                         Qt6::Gui)

  # The backend on the session: the desktop suite every backend passes, then what only Wayland
  # does (a stop while a pass waits, the pointer from the stream).
  if(TARGET platform_wayland AND TARGET engine)
    add_executable(wayland_desktop_tests ${CMAKE_CURRENT_LIST_DIR}/wayland_conformance_test.cpp
                                         ${CMAKE_CURRENT_LIST_DIR}/wayland_desktop_test.cpp)
    target_link_libraries(wayland_desktop_tests PRIVATE platform_wayland engine concurrency
                                                        GTest::gtest Qt6::Gui)
  endif()
endif()

# The live test in a session of its own, with the consent helper answering the dialog.
if(TARGET wayland_portal_live_test AND TARGET consent_helper)
  add_test(NAME wayland_portal_live_test
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wayland-session --
                   env OSTRANE_CONSENT_HELPER=$<TARGET_FILE:consent_helper>
                   $<TARGET_FILE:wayland_portal_live_test>)
  set_tests_properties(wayland_portal_live_test PROPERTIES TIMEOUT 300 RUN_SERIAL ON)
endif()
if(TARGET wayland_desktop_tests AND TARGET consent_helper)
  add_test(NAME wayland_desktop_tests
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wayland-session --size 1920x1080 --
                   env OSTRANE_CONSENT_HELPER=$<TARGET_FILE:consent_helper>
                   OSTRANE_TEST_SCREEN=1920x1080 $<TARGET_FILE:wayland_desktop_tests>)
  set_tests_properties(wayland_desktop_tests PROPERTIES TIMEOUT 600 RUN_SERIAL ON)
endif()
