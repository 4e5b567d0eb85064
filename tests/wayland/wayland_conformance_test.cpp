// The Wayland backend against the shared desktop suite, inside scripts/wayland-session: the
// portal's screen cast and pointer, with the consent helper answering the dialog.
//
//   scripts/wayland-session -- env OSTRANE_CONSENT_HELPER=<consent_helper>
//       OSTRANE_TEST_SCREEN=1920x1080 <this test>
#include <gtest/gtest.h>

#include <QGuiApplication>

#include <cstdlib>
#include <memory>

#include "tests/wayland/WaylandHarness.h"

namespace ostrane::testkit {

WaylandLive& Live() {
  static WaylandLive live;
  return live;
}

namespace {
INSTANTIATE_TYPED_TEST_SUITE_P(Wayland, DesktopConformance, WaylandHarness);
}  // namespace

}  // namespace ostrane::testkit

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Qt cannot start without a display; without one the harness says why each test cannot run.
  std::unique_ptr<QGuiApplication> app;
  if (std::getenv("WAYLAND_DISPLAY")) app = std::make_unique<QGuiApplication>(argc, argv);
  const int result = RUN_ALL_TESTS();
  ostrane::testkit::WaylandLive& live = ostrane::testkit::Live();
  live.window.reset();
  live.desktop.reset();
  live.loop.reset();
  return result;
}
