// GoogleTest's side of the private X server: one server for the whole test program, with DISPLAY
// naming it. Tests call PrivateXAvailable() and stop when the server could not start.
#pragma once

#include <string>

namespace ostrane::testkit {

// Call after InitGoogleTest; `screen` is "WIDTHxHEIGHT".
void RegisterPrivateXEnvironment(const std::string& screen = "1920x1080");
bool PrivateXAvailable();
// The size the server was asked for.
const std::string& PrivateXScreen();

}  // namespace ostrane::testkit
