// A reference MD5, independent of the digest library under test: OpenSSL's
// on Linux, Windows' own CNG on Windows.
#pragma once

#include <string>
#include <string_view>

namespace korvik {

// Returns the lower-case hexadecimal MD5 digest of `data`.
std::string Md5Hex(std::string_view data);

}  // namespace korvik
