// Reading run logs back: a log file split into its run logs, and one run
// log taken apart into its result, its message and its unexpected error.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvik::cli {

// The rule that opens and closes every run log.
inline const std::string kRule(80, '-');

struct RunLogRecord {
  std::string text;                // every byte the run appended
  std::string body;                // between the two rules, without their CR LF
  std::vector<std::string> lines;  // `body` split at each CR LF
};

// Splits the contents of a log file into run logs. Returns the records, or
// fills `problem` with where the text stops following the run log layout
// ("\r\n\r\n", a rule, lines, a rule, "\r\n") and returns the records
// before that point.
std::vector<RunLogRecord> SplitRunLogs(const std::string& text,
                                       std::string& problem);

struct RunOutcome {
  std::string problem;  // empty when the record reads as a run log
  bool successful = false;
  bool has_message = false;  // false for the empty line after the result
  std::string message;       // without "Message : ", CR LF kept
  bool unexpected = false;   // an "Unexpected Error : " line
  std::string unexpected_description;
};

// Takes one run log apart: the started and ended stamps by their form, the
// last "Result : Successful." or "Result : Failed!" line, what follows it
// up to the ended stamp, and any "Unexpected Error : " line.
RunOutcome ReadOutcome(const RunLogRecord& record);

// Determines whether `line` is a started or ended stamp of the C locale.
bool IsStamp(std::string_view line, std::string_view prefix);

}  // namespace korvik::cli
