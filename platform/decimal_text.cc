#include "platform/decimal_text.h"

#include <charconv>
#include <string_view>

namespace korvik {

void AppendZeroPadded(std::string& text, int value, std::size_t width) {
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
