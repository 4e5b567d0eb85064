#include "tests/support/PrivateXEnvironment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "tests/support/PrivateX.h"

namespace ostrane::testkit {

namespace {

std::unique_ptr<PrivateX> g_server;
std::string g_screen;

class PrivateXEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_server = std::make_unique<PrivateX>(g_screen);
    if (g_server->Running()) {
      setenv("DISPLAY", g_server->Display().c_str(), 1);
    } else {
      std::fprintf(stderr, "The tests' X server: %s\n", g_server->Error().c_str());
    }
  }
  void TearDown() override { g_server.reset(); }
};

}  // namespace

void RegisterPrivateXEnvironment(const std::string& screen) {
  g_screen = screen;
  ::testing::AddGlobalTestEnvironment(new PrivateXEnvironment);
}

bool PrivateXAvailable() {
  return g_server && g_server->Running();
}

const std::string& PrivateXScreen() {
  return g_screen;
}

}  // namespace ostrane::testkit
