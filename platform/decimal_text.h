// Whole numbers written in decimal without the C library's printf family,
// whose code a run that only stamps its log would otherwise page in.
#pragma once

#include <charconv>
#include <string>
#include <string_view>

namespace korvik {

// Appends `value` in decimal with zeros after any sign up to `width`
// characters in all, as "%0*d" does.
inline void AppendZeroPadded(std::string& text, int value, std::size_t width) {
  char digits[16];
  const auto written = std::to_chars(digits, digits + sizeof digits, value);
  std::string_view number(digits,
                          static_cast<std::size_t>(written.ptr - digits));
  if (number.front() == '-') {
    text += '-';
    number.remove_prefix(1);
    width = width > 0 ? width - 1 : 0;
  }
  if (number.size() < width) text.append(width - number.size(), '0');
  text += number;
}

}  // namespace korvik
