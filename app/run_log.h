// The run log of one batch run: composed in memory, written at the end.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/result.h"

namespace korvik {

class RunLog {
 public:
  // Adds a line; every line after the first begins with a line end.
  void AddLine(std::string_view line);
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// Returns the date as day, month and four-digit year, two digits each for
// day and month, joined by `separator`.
std::string FormatLogDate(const std::tm& date, std::string_view separator);

// Appends `text` and one CR LF to the named file in a single write, so that
// runs in parallel never interleave their logs. Creates a missing file.
Status WriteLogText(FileSystem& files, std::string_view text,
                    const std::string& file_name);

}  // namespace korvik
