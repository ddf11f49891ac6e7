// What the tests of the digest library share on every system: the caller's
// buffer as the program hands it over, and the test suite of RFC 1321.
#pragma once

#include <cstddef>
#include <cstring>
#include <ostream>
#include <string>

namespace korvik::digest_test {

using MDFileFunction = int (*)(const char* name, char* digest);
using MDFileHeadFunction = int (*)(const char* name, long long length,
                                   char* digest);

// A file whose first bytes are the RFC 1321 "message digest", and a length
// of it that runs past its end.
inline const std::string kHeadContent =
    "message digest, and 32 bytes of trailer after it";
inline constexpr long long kHeadLength = 14;
inline constexpr char kHeadDigest[] = "f96b697d7cb7938d525a2f31aaf161d0";

inline constexpr std::size_t kDigits = 32;
inline constexpr char kSentinel = '#';

// The caller's buffer: 32 blanks and a byte after them that MDFile must not
// touch.
struct DigestBuffer {
  char bytes[kDigits + 2];
  DigestBuffer() {
    std::memset(bytes, ' ', kDigits);
    bytes[kDigits] = kSentinel;
    bytes[kDigits + 1] = '\0';
  }
  std::string digits() const { return std::string(bytes, kDigits); }
  bool untouched() const {
    return digits() == std::string(kDigits, ' ') && bytes[kDigits] == kSentinel;
  }
};

// The test suite of RFC 1321, appendix A.5.
struct KnownDigest {
  const char* name;
  std::string content;
  const char* digest;
};

inline const KnownDigest kRfc1321Suite[] = {
    {"Empty", "", "d41d8cd98f00b204e9800998ecf8427e"},
    {"A", "a", "0cc175b9c0f1b6a831c399e269772661"},
    {"Abc", "abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"MessageDigest", "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"Alphabet", "abcdefghijklmnopqrstuvwxyz",
     "c3fcd3d76192e4007dfb496cca67e13b"},
    {"AlphaNumeric",
     "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"Digits80",
     "1234567890123456789012345678901234567890"
     "1234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

inline void PrintTo(const KnownDigest& c, std::ostream* os) { *os << c.name; }

}  // namespace korvik::digest_test
