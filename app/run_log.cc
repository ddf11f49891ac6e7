#include "app/run_log.h"

#include "platform/decimal_text.h"

namespace korvik {

void RunLog::AddLine(std::string_view line) {
  text_ += "\r\n";
  text_ += line;
}

std::string FormatLogDate(const std::tm& date, std::string_view separator) {
  std::string text;
  AppendZeroPadded(text, date.tm_mday, 2);
  text += separator;
  AppendZeroPadded(text, date.tm_mon + 1, 2);
  text += separator;
  AppendZeroPadded(text, date.tm_year + 1900, 4);
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
