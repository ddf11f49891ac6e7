#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "checksum/line_ends.h"
#include "fuzz_checks.h"
#include "reference_lines.h"

namespace korvik::fuzz {
namespace {

const char* Name(LineEndChange change) {
  switch (change) {
    case LineEndChange::kNone:
      return "kNone";
    case LineEndChange::kAppend:
      return "kAppend";
    case LineEndChange::kRewrite:
      return "kRewrite";
  }
  return "?";
}

}  // namespace

std::string CheckLineRewrite(std::span<const std::uint8_t> input) {
  if (input.empty()) return "";
  const std::size_t cut_count = input[0] & 7;
  if (input.size() < 1 + 2 * cut_count) return "";
  const std::string data(
      reinterpret_cast<const char*>(input.data()) + 1 + 2 * cut_count,
      input.size() - 1 - 2 * cut_count);
  std::vector<std::size_t> cuts;
  for (std::size_t i = 0; i < cut_count; ++i) {
    const std::size_t at = input[1 + 2 * i] | (input[2 + 2 * i] << 8);
    cuts.push_back(at % (data.size() + 1));
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.push_back(data.size());
  std::vector<std::string_view> blocks;
  std::size_t from = 0;
  for (std::size_t cut : cuts) {
    blocks.push_back(std::string_view(data).substr(from, cut - from));
    from = cut;
  }

  const std::string expected = reference::Rewrite(data);
  if (RewriteLines(data) != expected) {
    return "RewriteLines breaks the line rules";
  }
  if (RewriteLines(expected) != expected) {
    return "RewriteLines changes data that follows the line rules";
  }

  LineEndWriter writer;
  std::string written;
  for (std::string_view block : blocks) writer.Convert(block, written);
  writer.Finish(written);
  if (written != expected) {
    return "LineEndWriter fed in " + std::to_string(blocks.size()) +
           " blocks breaks the line rules";
  }

  // Fed as RewriteAsText feeds it: no further block once it has decided.
  LineEndScanner scanner;
  bool going = true;
  for (std::string_view block : blocks) {
    if (!going) break;
    going = scanner.Feed(block);
  }
  const LineEndChange change = scanner.Result();
  if (!going && change != LineEndChange::kRewrite) {
    return std::string("LineEndScanner stopped early with ") + Name(change);
  }
  LineEndChange wanted = LineEndChange::kRewrite;
  if (expected == data) {
    wanted = LineEndChange::kNone;
  } else if (expected.size() > data.size() && expected.starts_with(data)) {
    wanted = LineEndChange::kAppend;
  }
  if (change != wanted) {
    return std::string("LineEndScanner says ") + Name(change) +
           " where the data needs " + Name(wanted);
  }
  if (change == LineEndChange::kAppend &&
      data + std::string(scanner.Suffix()) != expected) {
    return "LineEndScanner's suffix does not complete the data";
  }
  return "";
}

}  // namespace korvik::fuzz
