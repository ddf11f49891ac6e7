// The built program under users' locales: the run log's dates carry the
// separator of the locale's date format, and the log stays valid UTF-8 in
// UTF-8 locales, including the names and times it holds.
#include <gtest/gtest.h>
#include <locale.h>

#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/cli/cli_support.h"
#include "tests/cli/run_logs.h"

namespace korvik::cli {
namespace {

const std::string kProgram = std::string(kProgramDirectory) + "/korvik";

// Determines whether `text` is UTF-8: every sequence complete, in its
// shortest form, and no surrogate or value beyond U+10FFFF.
bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length;
    char32_t least;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xc0 && lead < 0xe0) {
      length = 2, least = 0x80;
    } else if (lead >= 0xe0 && lead < 0xf0) {
      length = 3, least = 0x800;
    } else if (lead >= 0xf0 && lead < 0xf8) {
      length = 4, least = 0x10000;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    char32_t code = lead & (0x7f >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      code = (code << 6) | (next & 0x3f);
    }
    if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
      return false;
    }
    i += length;
  }
  return true;
}

// Returns today's date as the run log writes it.
std::string Today(const std::string& separator) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char day[3];
  char month[3];
  char year[5];
  std::strftime(day, sizeof day, "%d", &local);
  std::strftime(month, sizeof month, "%m", &local);
  std::strftime(year, sizeof year, "%Y", &local);
  return day + separator + month + separator + year;
}

struct LocaleCase {
  const char* locale;
  const char* separator;
};

void PrintTo(const LocaleCase& c, std::ostream* os) { *os << c.locale; }

class RunLogLocaleTest : public testing::TestWithParam<LocaleCase> {};

TEST_P(RunLogLocaleTest, DatesTakeTheLocaleSeparatorInValidUtf8) {
  const LocaleCase& c = GetParam();
  const locale_t installed = ::newlocale(LC_ALL_MASK, c.locale, nullptr);
  ASSERT_NE(installed, nullptr)
      << c.locale << " is not installed; tools/test generates it";
  ::freelocale(installed);

  ScratchDirectory scratch;
  const std::string data = scratch.path() + "/\xe6\x97\xa5\xe4\xbb\x98.txt";
  WriteFile(data,
            "Gr\xc3\xbc\xc3\x9f"
            "e\r\n");
  Command command;
  command.program = kProgram;
  command.arguments = {"-A", data};
  command.directory = scratch.path();
  command.environment = PlainEnvironment(scratch.path());
  for (std::string& variable : command.environment) {
    if (variable.starts_with("LC_ALL=")) {
      variable = std::string("LC_ALL=") + c.locale;
    }
  }

  const std::string before = Today(c.separator);
  const Outcome outcome = cli::Run(command);
  const std::string after = Today(c.separator);
  ASSERT_EQ(outcome.exit_status, 0) << outcome.standard_error;
  const std::string log = ReadFile(scratch.path() + "/ravlo.log");
  EXPECT_TRUE(IsValidUtf8(log)) << log;

  std::string problem;
  const std::vector<RunLogRecord> records = SplitRunLogs(log, problem);
  ASSERT_EQ(problem, "") << log;
  ASSERT_EQ(records.size(), 1u);
  const std::vector<std::string>& lines = records[0].lines;
  ASSERT_GE(lines.size(), 2u);
  const std::pair<std::string, std::string> stamps[] = {
      {lines.front(), "Korvik Checksum Utility : Started : "},
      {lines.back(), "Korvik Checksum Utility : Ended : "},
  };
  for (const auto& [line, prefix] : stamps) {
    EXPECT_TRUE(line.starts_with(prefix + before + " , ") ||
                line.starts_with(prefix + after + " , "))
        << line << "\nexpected the date " << before;
  }
}

INSTANTIATE_TEST_SUITE_P(Locales, RunLogLocaleTest,
                         testing::Values(LocaleCase{"de_DE.UTF-8", "."},
                                         LocaleCase{"fi_FI.UTF-8", "."},
                                         LocaleCase{"hu_HU.UTF-8", "-"},
                                         LocaleCase{"en_US.UTF-8", "/"},
                                         LocaleCase{"ja_JP.UTF-8", "/"}),
                         [](const testing::TestParamInfo<LocaleCase>& info) {
                           return std::string(info.param.locale, 5);
                         });

}  // namespace
}  // namespace korvik::cli
