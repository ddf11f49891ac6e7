// A digest library made for the one-function interface: MDFile alone, as a
// library built before MDFileHead existed. The program must still verify
// with it, through a copy of the body.
#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "digest/korvik_digest.h"

extern "C" __attribute__((visibility("default"))) int MDFile(
    const char* file_name, char* digest) {
  std::ifstream in(file_name, std::ios::binary);
  if (!in) return ENOENT;
  const std::string content{std::istreambuf_iterator<char>(in), {}};
  unsigned char raw[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(content.data(), content.size(), raw, &length, EVP_md5(), nullptr);
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(digest + 2 * i, 3, "%02x", raw[i]);
  }
  digest[32] = '\0';
  return 0;
}
