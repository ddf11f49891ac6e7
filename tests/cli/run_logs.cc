#include "tests/cli/run_logs.h"

#include <regex>

namespace korvik::cli {
namespace {

constexpr std::string_view kStarted = "Korvik Checksum Utility : Started : ";
constexpr std::string_view kEnded = "Korvik Checksum Utility : Ended : ";
constexpr std::string_view kSuccessful = "\r\nResult : Successful.\r\n";
constexpr std::string_view kFailed = "\r\nResult : Failed!\r\n";
constexpr std::string_view kMessage = "Message : ";
constexpr std::string_view kUnexpected = "\r\nUnexpected Error : ";

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  for (;;) {
    const std::size_t end = text.find("\r\n");
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) return lines;
    text.remove_prefix(end + 2);
  }
}

}  // namespace

bool IsStamp(std::string_view line, std::string_view prefix) {
  static const std::regex kDateAndTime(
      "\\d{2}/\\d{2}/\\d{4} , \\d{2}:\\d{2}:\\d{2}");
  return line.starts_with(prefix) &&
         std::regex_match(std::string(line.substr(prefix.size())),
                          kDateAndTime);
}

std::vector<RunLogRecord> SplitRunLogs(const std::string& text,
                                       std::string& problem) {
  const std::string head = "\r\n\r\n" + kRule + "\r\n";
  const std::string tail = "\r\n" + kRule + "\r\n";
  std::vector<RunLogRecord> records;
  std::size_t at = 0;
  while (at < text.size()) {
    if (text.compare(at, head.size(), head) != 0) {
      problem = "no run log starts at byte " + std::to_string(at);
      return records;
    }
    const std::size_t end = text.find(tail, at + head.size());
    if (end == std::string::npos) {
      problem = "the run log at byte " + std::to_string(at) + " never ends";
      return records;
    }
    RunLogRecord record;
    record.text = text.substr(at, end + tail.size() - at);
    record.body = text.substr(at + head.size(), end - at - head.size());
    record.lines = SplitLines(record.body);
    records.push_back(std::move(record));
    at = end + tail.size();
  }
  return records;
}

RunOutcome ReadOutcome(const RunLogRecord& record) {
  RunOutcome outcome;
  const std::string& body = record.body;
  if (record.lines.size() < 4 || !IsStamp(record.lines.front(), kStarted) ||
      !IsStamp(record.lines.back(), kEnded)) {
    outcome.problem = "no started or ended stamp";
    return outcome;
  }
  const std::size_t ended = body.rfind("\r\n" + std::string(kEnded));
  const std::size_t successful = body.rfind(kSuccessful, ended);
  const std::size_t failed = body.rfind(kFailed, ended);
  std::size_t result_end;
  if (successful != std::string::npos &&
      (failed == std::string::npos || successful > failed)) {
    outcome.successful = true;
    result_end = successful + kSuccessful.size();
  } else if (failed != std::string::npos) {
    result_end = failed + kFailed.size();
  } else {
    outcome.problem = "no result line";
    return outcome;
  }
  // The message line: empty, or "Message : " and the message, which may
  // go on over further lines.
  if (result_end < ended) {
    const std::string_view rest =
        std::string_view(body).substr(result_end, ended - result_end);
    if (!rest.starts_with(kMessage)) {
      outcome.problem = "the line after the result is no message line";
      return outcome;
    }
    outcome.has_message = true;
    outcome.message = std::string(rest.substr(kMessage.size()));
  }
  const std::size_t unexpected = body.find(kUnexpected);
  if (unexpected != std::string::npos && unexpected < result_end) {
    outcome.unexpected = true;
    const std::size_t from = unexpected + kUnexpected.size();
    outcome.unexpected_description =
        body.substr(from, body.find("\r\n", from) - from);
  }
  return outcome;
}

}  // namespace korvik::cli
