#include <windows.h>
// After windows.h:
#include <bcrypt.h>

#include <cstdio>

#include "tests/md5_hex.h"

namespace korvik {

std::string Md5Hex(std::string_view data) {
  unsigned char raw[16] = {};
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0);
  BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
  BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                 static_cast<ULONG>(data.size()), 0);
  BCryptFinishHash(hash, raw, sizeof raw, 0);
  BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  std::string hex;
  char pair[3];
  for (unsigned char byte : raw) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    hex += pair;
  }
  return hex;
}

}  // namespace korvik
