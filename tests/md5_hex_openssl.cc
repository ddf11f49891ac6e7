#include <openssl/evp.h>

#include <cstdio>

#include "tests/md5_hex.h"

namespace korvik {

std::string Md5Hex(std::string_view data) {
  unsigned char raw[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), raw, &length, EVP_md5(), nullptr);
  std::string hex;
  char pair[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", raw[i]);
    hex += pair;
  }
  return hex;
}

}  // namespace korvik
