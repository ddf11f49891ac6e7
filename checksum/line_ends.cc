#include "checksum/line_ends.h"

#include <cstring>

namespace korvik {

bool LineEndScanner::Feed(std::span<const char> block) {
  if (block.empty() || lone_cr_) return !lone_cr_;
  const char* begin = block.data();
  const char* end = begin + block.size();
  if (pending_cr_ && *begin != '\n') lone_cr_ = true;
  for (const char* cr = begin; !lone_cr_;) {
    cr = static_cast<const char*>(std::memchr(cr, '\r', end - cr));
    if (cr == nullptr) break;
    if (cr + 1 == end) break;  // decided by the next block or the end
    if (cr[1] != '\n') lone_cr_ = true;
    cr += 2;
    if (cr >= end) break;
  }
  pending_cr_ = end[-1] == '\r';
  before_last_ = block.size() >= 2 ? end[-2] : last_;
  last_ = end[-1];
  return !lone_cr_;
}

LineEndChange LineEndScanner::Result() const {
  if (lone_cr_) return LineEndChange::kRewrite;
  if (pending_cr_) return LineEndChange::kAppend;
  if (before_last_ == '\r' && last_ == '\n') return LineEndChange::kNone;
  return LineEndChange::kAppend;
}

std::string_view LineEndScanner::Suffix() const {
  return pending_cr_ ? "\n" : "\r\n";
}

void LineEndWriter::Convert(std::span<const char> block, std::string& output) {
  const char* next = block.data();
  const char* end = next + block.size();
  while (next < end) {
    if (pending_cr_) {
      output += "\r\n";
      pending_cr_ = false;
      at_line_start_ = true;
      if (*next == '\n') ++next;  // CR LF is one line end
      continue;
    }
    const auto* cr =
        static_cast<const char*>(std::memchr(next, '\r', end - next));
    const char* run_end = cr == nullptr ? end : cr;
    if (run_end > next) {
      output.append(next, run_end);
      at_line_start_ = false;
    }
    if (cr == nullptr) break;
    pending_cr_ = true;
    next = cr + 1;
  }
}

void LineEndWriter::Finish(std::string& output) {
  if (pending_cr_ || !at_line_start_) output += "\r\n";
  pending_cr_ = false;
  at_line_start_ = true;
}

std::string RewriteLines(std::string_view data) {
  LineEndWriter writer;
  std::string output;
  writer.Convert(data, output);
  writer.Finish(output);
  return output;
}

}  // namespace korvik
