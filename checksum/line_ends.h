// The line rules of the rewrite: CR LF and a lone CR each end a line, a lone
// LF is an ordinary character, the end of the data ends the last line, and
// every line is written back followed by CR LF.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace korvik {

// What rewriting a file by the line rules does to its bytes.
enum class LineEndChange {
  kNone,     // every line already ends in CR LF: the bytes stay
  kAppend,   // only the last line end is missing or incomplete
  kRewrite,  // a lone CR inside the data: a new file is needed
};

// Classifies a file from its bytes, fed block by block in order.
class LineEndScanner {
 public:
  // Takes the next block; returns false once the outcome is kRewrite and
  // further blocks cannot change it.
  bool Feed(std::span<const char> block);

  LineEndChange Result() const;
  // Returns the bytes to append for kAppend: CR LF, or LF after a final CR.
  std::string_view Suffix() const;

 private:
  bool fed_ = false;  // at least one byte came
  bool lone_cr_ = false;
  bool pending_cr_ = false;  // the last byte fed was a CR
  char before_last_ = '\0';
  char last_ = '\0';
};

// Rewrites data by the line rules, block by block in order.
class LineEndWriter {
 public:
  // Appends the rewritten form of `block` to `output`.
  void Convert(std::span<const char> block, std::string& output);
  // Appends what the end of the data adds: the last line's CR LF.
  void Finish(std::string& output);

 private:
  bool pending_cr_ = false;
  bool at_line_start_ = true;
};

// Returns `data` rewritten by the line rules, all in one.
std::string RewriteLines(std::string_view data);

}  // namespace korvik
