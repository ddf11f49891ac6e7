// The digest library's output form, the same on every system.
#pragma once

#include <cstddef>

namespace korvik::digest {

constexpr std::size_t kMd5Size = 16;

// Writes `raw` as 32 lower-case hexadecimal digits to `text`, without a
// terminating zero.
inline void WriteHexDigits(const unsigned char (&raw)[kMd5Size], char* text) {
  constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < kMd5Size; ++i) {
    text[2 * i] = kDigits[raw[i] >> 4];
    text[2 * i + 1] = kDigits[raw[i] & 0x0f];
  }
}

}  // namespace korvik::digest
