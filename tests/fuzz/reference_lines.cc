#include "reference_lines.h"

namespace korvik::reference {

std::vector<std::string> ReadLines(std::string_view data) {
  std::vector<std::string> lines;
  std::string line;
  bool line_started = false;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const char c = data[i];
    if (c == '\r') {
      // CR LF or a lone CR: either way the line ends here.
      if (i + 1 < data.size() && data[i + 1] == '\n') ++i;
      lines.push_back(line);
      line.clear();
      line_started = false;
      continue;
    }
    line += c;
    line_started = true;
  }
  if (line_started) lines.push_back(line);  // ended by the end of the data
  return lines;
}

std::string WriteLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::string Rewrite(std::string_view data) {
  return WriteLines(ReadLines(data));
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace korvik::reference
