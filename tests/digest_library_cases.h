// What the tests of the digest library share on every system: the caller's
// buffer as the program hands it over, and the test suite of RFC 1321.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>

#include "digest/korvik_digest.h"
#include "digest/stream_context.h"

namespace korvik::digest_test {

using digest::MDFileFunction;
using digest::MDFileHeadFunction;
using digest::MDStreamBeginFunction;
using digest::MDStreamEndFunction;
using digest::MDStreamUpdateFunction;

// The exports that digest bytes handed over piece by piece.
struct StreamExports {
  MDStreamBeginFunction begin = nullptr;
  MDStreamUpdateFunction update = nullptr;
  MDStreamEndFunction end = nullptr;
};

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

// Digests `content` through `exports`, handed over `piece` bytes at a time,
// into `buffer`; returns the first code that is not 0.
inline int StreamDigest(const StreamExports& exports, std::string_view content,
                        std::size_t piece, DigestBuffer& buffer) {
  alignas(digest::kStreamAlignment) char context[digest::kStreamContextSize];
  if (const int code = exports.begin(context, sizeof context)) return code;
  for (std::size_t at = 0; at < content.size(); at += piece) {
    const std::size_t length = std::min(piece, content.size() - at);
    if (const int code = exports.update(context, content.data() + at,
                                        static_cast<long long>(length))) {
      exports.end(context, nullptr);
      return code;
    }
  }
  return exports.end(context, buffer.bytes);
}

// Checks the piece-by-piece digest against the suite, in pieces of every
// size, and its refusals: a context too small, a digest abandoned.
inline void ExpectStreamDigests(const StreamExports& exports) {
  ASSERT_NE(exports.begin, nullptr) << "no MDStreamBegin";
  ASSERT_NE(exports.update, nullptr) << "no MDStreamUpdate";
  ASSERT_NE(exports.end, nullptr) << "no MDStreamEnd";
  for (const KnownDigest& known : kRfc1321Suite) {
    for (const std::size_t piece : {1, 3, 64, 1000}) {
      SCOPED_TRACE(std::string(known.name) + " in pieces of " +
                   std::to_string(piece));
      DigestBuffer buffer;
      EXPECT_EQ(StreamDigest(exports, known.content, piece, buffer), 0);
      EXPECT_EQ(buffer.digits(), known.digest);
      EXPECT_EQ(buffer.bytes[kDigits], kSentinel);
    }
  }

  alignas(digest::kStreamAlignment) char context[digest::kStreamContextSize];
  EXPECT_NE(exports.begin(context, 8), 0);
  EXPECT_NE(exports.begin(nullptr, sizeof context), 0);
  ASSERT_EQ(exports.begin(context, sizeof context), 0);
  EXPECT_NE(exports.update(context, nullptr, 1), 0);
  EXPECT_EQ(exports.update(context, "abandoned", 9), 0);
  EXPECT_EQ(exports.end(context, nullptr), 0);
  // The context then serves a new digest, which knows nothing of the last.
  const KnownDigest& known = kRfc1321Suite[2];
  ASSERT_EQ(exports.begin(context, sizeof context), 0);
  EXPECT_EQ(exports.update(context, known.content.data(),
                           static_cast<long long>(known.content.size())),
            0);
  DigestBuffer buffer;
  EXPECT_EQ(exports.end(context, buffer.bytes), 0);
  EXPECT_EQ(buffer.digits(), known.digest);
}

}  // namespace korvik::digest_test
