// The date separator taken from a locale's date format.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "platform/posix/posix_system.h"

namespace korvik {
namespace {

TEST(DateSeparatorTest, OneAndTheSameCharacterBetweenThreeNumbersOrSlash) {
  // Dates in UTF-8, where a character may take several bytes.
  const std::string previous = std::setlocale(LC_TIME, nullptr);
  ASSERT_NE(std::setlocale(LC_TIME, "C.UTF-8"), nullptr);
  const struct {
    const char* format;
    const char* separator;
  } kCases[] = {
      {"%d.%m.%Y", "."},
      {"%m/%d/%y", "/"},
      {"%Y-%m-%d", "-"},
      {"%-d.%-m.%y", "."},
      {"%Od-%Om-%Oy", "-"},
      {"%e %m %_4Y", " "},
      {"%d\xc2\xb7%m\xc2\xb7%Y", "\xc2\xb7"},
      // Not of that form.
      {"%Y\xe5\xb9\xb4%m\xe6\x9c\x88%d\xe6\x97\xa5", "/"},
      {"%d\xe5%m\xe5%Y", "/"},  // a byte that is no character
      {"%d. %m. %y", "/"},
      {"%d.%m.%Y.", "/"},
      {"%A %d.%m.%Y", "/"},
      {"%d/%m-%Y", "/"},
      {"%d %b, %Y", "/"},
      {"%d%m%Y", "/"},
      {"%d%%%m%%%Y", "/"},
      {"%d.%m", "/"},
      {"%F", "/"},
      {"", "/"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(DateSeparatorOf(c.format), c.separator) << c.format;
  }
  std::setlocale(LC_TIME, previous.c_str());
}

}  // namespace
}  // namespace korvik
