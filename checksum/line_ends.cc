#include "checksum/line_ends.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace korvik {

namespace {

// Determines whether a CR not followed by LF lies in [begin, end - 1): the
// last byte's follower is not known yet. Sixteen bytes at a time where the
// processor has SSE2: a text file holds a CR every few dozen bytes, too many
// for a call to memchr each.
bool HasLoneCr(const char* begin, const char* end) {
  const char* next = begin;
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  for (; end - next >= 17; next += 16) {
    const __m128i here =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(next));
    const __m128i after =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(next + 1));
    const int crs = _mm_movemask_epi8(_mm_cmpeq_epi8(here, cr));
    const int lfs = _mm_movemask_epi8(_mm_cmpeq_epi8(after, lf));
    if ((crs & ~lfs) != 0) return true;
  }
#endif
  for (; end - next >= 2; ++next) {
    if (next[0] == '\r' && next[1] != '\n') return true;
  }
  return false;
}

}  // namespace

bool LineEndScanner::Feed(std::span<const char> block) {
  if (block.empty() || lone_cr_) return !lone_cr_;
  const char* begin = block.data();
  const char* end = begin + block.size();
  if ((pending_cr_ && *begin != '\n') || HasLoneCr(begin, end)) {
    lone_cr_ = true;
  }
  fed_ = true;
  pending_cr_ = end[-1] == '\r';
  before_last_ = block.size() >= 2 ? end[-2] : last_;
  last_ = end[-1];
  return !lone_cr_;
}

LineEndChange LineEndScanner::Result() const {
  if (lone_cr_) return LineEndChange::kRewrite;
  if (!fed_) return LineEndChange::kNone;  // no bytes, no lines to end
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
