#include "app/run_log.h"

#include <cstdio>

namespace korvik {

void RunLog::AddLine(std::string_view line) {
  text_ += "\r\n";
  text_ += line;
}

std::string FormatLogDate(const std::tm& date, std::string_view separator) {
  char day[12];
  char month[12];
  char year[12];
  std::snprintf(day, sizeof day, "%02d", date.tm_mday);
  std::snprintf(month, sizeof month, "%02d", date.tm_mon + 1);
  std::snprintf(year, sizeof year, "%04d", date.tm_year + 1900);
  std::string text(day);
  text.append(separator).append(month).append(separator).append(year);
  return text;
}

Status WriteLogText(FileSystem& files, std::string_view text,
                    const std::string& file_name) {
  auto opened = files.Open(file_name, OpenMode::kAppend);
  if (!opened.ok()) return opened.status();
  ScopedFile file(files, *opened);
  std::string record(text);
  record += "\r\n";
  if (Status written = files.Write(file.get(), record); !written.ok()) {
    return written;
  }
  return file.Close();
}

}  // namespace korvik
