#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ui/Application.h"
#include "ui/TextToInt.h"

namespace ostrane::ui {
namespace {

TEST(TextToInt32, AcceptsWhatStartReads) {
  struct Case {
    const char* text;
    std::optional<int32_t> value;
  };
  const Case cases[] = {
      {"0", 0},
      {"12", 12},
      {"   12", 12},
      {"+12", 12},
      {"-12", -12},
      {"  -7", -7},
      {"007", 7},
      {"$1F", 31},
      {"0x1F", 31},
      {"0X1f", 31},
      {"x1F", 31},
      {"X1F", 31},
      {"-$10", -16},
      {"+0x10", 16},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"-0", 0},
      {"$FFFFFFFF", -1},
      {"$80000000", INT32_MIN},
      {"-$FFFFFFFF", 1},
      {"$000000000001", 1},  // leading zeros are not significant
      {"0x7fffffff", 2147483647},
      // Failures.
      {"", std::nullopt},
      {" ", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {" -0x", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"12 ", std::nullopt},
      {"1 2", std::nullopt},
      {"\t12", std::nullopt},
      {"+-1", std::nullopt},
      {"--1", std::nullopt},
      {"- 1", std::nullopt},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"$100000000", std::nullopt},
      {"$1G", std::nullopt},
      {"1F", std::nullopt},
      {"0x-1", std::nullopt},
      {"abc", std::nullopt},
      {"1.5", std::nullopt},
      {"0$1", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TextToInt32(c.text), c.value) << '"' << c.text << '"';
}

TEST(TextToInt64, WiderRangeSameRules) {
  struct Case {
    const char* text;
    std::optional<int64_t> value;
  };
  const Case cases[] = {
      {"2147483648", 2147483648LL},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775809", std::nullopt},
      {"$FFFFFFFF", 4294967295LL},
      {"$FFFFFFFFFFFFFFFF", -1},
      {"$10000000000000000", std::nullopt},
      {"  -0x10", -16},
      {"12 ", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TextToInt64(c.text), c.value) << '"' << c.text << '"';
}

TEST(ApplicationTitle, FileNameUpToTheFirstFullStopRestInLowerCase) {
  struct Case {
    const char* path;
    const char* title;
  };
  for (const Case c :
       {Case{"/usr/bin/ostrane", "ostrane"}, Case{"C:/Tools/OSTRANE.EXE", "Ostrane"},
        Case{"/opt/MyTool.v2.bin", "Mytool"}, Case{"x", "x"}, Case{"/a/.hidden", ""}}) {
    EXPECT_EQ(ApplicationTitle(QString::fromLatin1(c.path)).toStdString(), c.title) << c.path;
  }
}

}  // namespace
}  // namespace ostrane::ui
