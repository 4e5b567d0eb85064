// The key codes wl_input sends through kwin's fake-input protocol: a wrong code types another
// character or presses another function key than the test asked for.
#include "KwinFakeInput.h"

#include <gtest/gtest.h>

namespace {

TEST(KwinKeys, KeysymsGiveTheirUsKeyCodesAndShift) {
  struct Case {
    uint32_t keysym;
    KeyCode code;
  };
  const Case cases[] = {
      {'a', {30, false}},    {'A', {30, true}},     {'q', {16, false}},     {'z', {44, false}},
      {'m', {50, false}},    {'1', {2, false}},     {'0', {11, false}},     {'!', {2, true}},
      {')', {11, true}},     {',', {51, false}},    {'<', {51, true}},      {'.', {52, false}},
      {'/', {53, false}},    {'?', {53, true}},     {'-', {12, false}},     {'_', {12, true}},
      {'\\', {43, false}},   {'|', {43, true}},     {'`', {41, false}},     {'~', {41, true}},
      {'\'', {40, false}},   {'"', {40, true}},     {' ', {57, false}},     {0xff09, {15, false}},
      {0xff0d, {28, false}}, {0xff1b, {1, false}},  {0xff08, {14, false}},  {0xffe9, {56, false}},
      {0xffe3, {29, false}}, {0xffe1, {42, false}}, {0xffeb, {125, false}}, {0xffbe, {59, false}},
      {0xffc6, {67, false}}, {0xffc7, {68, false}}, {0xffc8, {87, false}},  {0xffc9, {88, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "keysym 0x" << std::hex << c.keysym);
    const std::optional<KeyCode> code = keyCodeOf(c.keysym);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, c.code);
  }
}

TEST(KwinKeys, KeysOffTheUsLayoutAreRefused) {
  for (uint32_t keysym : {0u, 0x7fu, 0xe9u /* eacute */, 0xffcau /* F13 */, 0x20acu /* EuroSign */})
    EXPECT_FALSE(keyCodeOf(keysym).has_value()) << keysym;
}

}  // namespace
