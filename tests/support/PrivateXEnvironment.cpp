#include "tests/support/PrivateXEnvironment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "tests/support/PrivateX.h"

namespace ostrane::testkit {

namespace {

std::unique_ptr<PrivateX> g_server;

class PrivateXEnvironment : public ::testing::Environment {
 public:
  explicit PrivateXEnvironment(std::string screen) : screen_(std::move(screen)) {}
  void SetUp() override {
    g_server = std::make_unique<PrivateX>(screen_);
    if (g_server->Running()) {
      setenv("DISPLAY", g_server->Display().c_str(), 1);
    } else {
      std::fprintf(stderr, "The tests' X server: %s\n", g_server->Error().c_str());
    }
  }
  void TearDown() override { g_server.reset(); }

 private:
  std::string screen_;
};

}  // namespace

void RegisterPrivateXEnvironment(const std::string& screen) {
  ::testing::AddGlobalTestEnvironment(new PrivateXEnvironment(screen));
}

bool PrivateXAvailable() {
  return g_server && g_server->Running();
}

}  // namespace ostrane::testkit
