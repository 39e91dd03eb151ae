#include "app/MessageText.h"

#include <gtest/gtest.h>

namespace {

TEST(MessageText, FillsArgumentsInOrderAndSurvivesWrongTexts) {
  using A = std::vector<orb::MessageArg>;
  struct Case {
    const char* format;
    A args;
    const char* expected;
  } cases[] = {
      {"The imaging library could not be started (error %d).", A{int64_t{-7}}, "The imaging library could not be started (error -7)."},
      {"Cannot open %s: %d%% done", A{std::string("a.tif"), int64_t{40}}, "Cannot open a.tif: 40% done"},
      {"%5d|%-4s|%03ld", A{int64_t{42}, std::string("ab"), int64_t{7}}, "   42|ab  |007"},
      {"missing %s and %d", A{}, "missing  and "},
      {"swapped %d %s", A{std::string("x"), int64_t{3}}, "swapped x 3"},
      {"unknown %f stays", A{int64_t{1}}, "unknown %f stays"},
      {"trailing %", A{}, "trailing %"},
      {"%s", A{std::string(2000, 'z')}, nullptr},
  };
  for (const auto& c : cases) {
    std::string got = orb::FormatMessageText(c.format, c.args);
    if (c.expected)
      EXPECT_EQ(got, c.expected) << c.format;
    else
      EXPECT_EQ(got.size(), 2000u);
  }
}

}  // namespace
