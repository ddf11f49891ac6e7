// Dates and times in the user's LC_TIME settings.
#include <gtest/gtest.h>

#include <clocale>
#include <ctime>
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

TEST(PosixLocaleTest, TimeIsTheLocalesPreferredForm) {
  const std::string previous = std::setlocale(LC_TIME, nullptr);
  const struct {
    int hour, minute, second;
  } kTimes[] = {{0, 0, 0}, {9, 7, 5}, {23, 59, 59}, {12, 30, 60}};
  int locales = 0;
  for (const char* name : {"C", "de_DE.UTF-8", "en_US.UTF-8", "fi_FI.UTF-8",
                           "hu_HU.UTF-8", "ja_JP.UTF-8"}) {
    if (std::setlocale(LC_TIME, name) == nullptr) continue;  // not installed
    ++locales;
    PosixLocale locale;  // takes LC_TIME from the environment: set it again
    std::setlocale(LC_TIME, name);
    for (const auto& t : kTimes) {
      std::tm time{};
      time.tm_hour = t.hour;
      time.tm_min = t.minute;
      time.tm_sec = t.second;  // 60: a leap second
      char expected[64];
      const std::size_t length =
          std::strftime(expected, sizeof expected, "%X", &time);
      EXPECT_EQ(locale.FormatTime(time), std::string(expected, length))
          << name << " " << t.hour << ":" << t.minute;
    }
  }
  EXPECT_GE(locales, 1);
  std::setlocale(LC_TIME, previous.c_str());
}

}  // namespace
}  // namespace korvik
