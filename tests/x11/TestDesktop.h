// The X11 desktop on the tests' private server, opened by a fixture's SetUp:
//   ASSERT_NO_FATAL_FAILURE(testkit::OpenTestDesktop(desktop_));
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/x11/X11Desktop.h"
#include "tests/support/PrivateXEnvironment.h"

namespace ostrane::testkit {

inline void OpenTestDesktop(std::unique_ptr<platform::x11::X11Desktop>& desktop) {
  ASSERT_TRUE(PrivateXAvailable()) << "the tests' X server did not start";
  std::string error;
  desktop = platform::x11::X11Desktop::Open(nullptr, error);
  ASSERT_TRUE(desktop) << error;
}

}  // namespace ostrane::testkit
