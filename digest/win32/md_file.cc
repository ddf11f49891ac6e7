// The digest library: MD5 of a named file, for the checksum program to load
// at run time. The MD5 is Windows' own, from CNG (bcrypt.dll), so the library
// needs nothing but system DLLs.
#include <windows.h>
// After windows.h, which they rely on:
#include <bcrypt.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "digest/hex_digits.h"

namespace {

constexpr DWORD kReadSize = DWORD{1} << 20;

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
struct ProviderCloser {
  void operator()(BCRYPT_ALG_HANDLE provider) const {
    ::BCryptCloseAlgorithmProvider(provider, 0);
  }
};
struct HashDestroyer {
  void operator()(BCRYPT_HASH_HANDLE hash) const { ::BCryptDestroyHash(hash); }
};
using File = std::unique_ptr<void, HandleCloser>;
using Provider = std::unique_ptr<void, ProviderCloser>;
using Hash = std::unique_ptr<void, HashDestroyer>;

// CNG reports NTSTATUS values; the library's callers get Win32 error codes.
DWORD ErrorOf(NTSTATUS status) { return ::RtlNtStatusToDosError(status); }

// Opens an existing regular file for reading. Others may hold it open for
// anything, writing and deleting included: the program digests a work file
// that it still holds open.
DWORD OpenRegularFile(const char* file_name, File& file) {
  // The name is in the process's ANSI code page.
  const int length = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS,
                                           file_name, -1, nullptr, 0);
  if (length == 0) return ::GetLastError();
  std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[length]);
  if (!wide) return ERROR_NOT_ENOUGH_MEMORY;
  if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, file_name, -1,
                            wide.get(), length) == 0) {
    return ::GetLastError();
  }
  const HANDLE handle =
      ::CreateFileW(wide.get(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return ::GetLastError();
  file.reset(handle);
  // Only files on disk: reads from a pipe or a console could wait forever.
  BY_HANDLE_FILE_INFORMATION information;
  if (::GetFileType(handle) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(handle, &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

constexpr std::uint64_t kWholeFile = UINT64_MAX;

// Feeds the first `length` bytes of `file`, or all of them for kWholeFile,
// to `hash`; ERROR_HANDLE_EOF where the file ends before `length`.
DWORD HashFile(HANDLE file, BCRYPT_HASH_HANDLE hash, std::uint64_t length) {
  std::unique_ptr<unsigned char[]> buffer(
      new (std::nothrow) unsigned char[kReadSize]);
  if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
  while (length > 0) {
    DWORD count = 0;
    const auto want =
        static_cast<DWORD>(std::min<std::uint64_t>(length, kReadSize));
    if (!::ReadFile(file, buffer.get(), want, &count, nullptr)) {
      return ::GetLastError();
    }
    if (count == 0) {
      return length == kWholeFile ? ERROR_SUCCESS : ERROR_HANDLE_EOF;
    }
    const NTSTATUS status = ::BCryptHashData(hash, buffer.get(), count, 0);
    if (!BCRYPT_SUCCESS(status)) return ErrorOf(status);
    if (length != kWholeFile) length -= count;
  }
  return ERROR_SUCCESS;
}

DWORD DigestFile(const char* file_name, std::uint64_t length,
                 unsigned char (&raw)[korvik::digest::kMd5Size]) {
  File file;
  if (const DWORD error = OpenRegularFile(file_name, file)) return error;

  BCRYPT_ALG_HANDLE provider_handle = nullptr;
  NTSTATUS status = ::BCryptOpenAlgorithmProvider(
      &provider_handle, BCRYPT_MD5_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(status)) return ErrorOf(status);
  const Provider provider(provider_handle);

  // CNG keeps the hash object itself.
  BCRYPT_HASH_HANDLE hash_handle = nullptr;
  status = ::BCryptCreateHash(provider.get(), &hash_handle, nullptr, 0, nullptr,
                              0, 0);
  if (!BCRYPT_SUCCESS(status)) return ErrorOf(status);
  const Hash hash(hash_handle);

  if (const DWORD error = HashFile(file.get(), hash.get(), length)) {
    return error;
  }
  status = ::BCryptFinishHash(hash.get(), raw, sizeof raw, 0);
  return BCRYPT_SUCCESS(status) ? ERROR_SUCCESS : ErrorOf(status);
}

// Digests the first `length` bytes into `digest` as hexadecimal digits.
int Digest(const char* file_name, std::uint64_t length, char* digest) {
  if (file_name == nullptr || digest == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  unsigned char raw[korvik::digest::kMd5Size];
  const DWORD error = DigestFile(file_name, length, raw);
  if (error == ERROR_SUCCESS) korvik::digest::WriteHexDigits(raw, digest);
  return static_cast<int>(error);
}

}  // namespace

// Writes the MD5 digest of the named file into `digest` as 32 lower-case
// hexadecimal digits (no terminating zero of its own). Returns 0 on success;
// otherwise a Win32 error code, and `digest` keeps what it held.
extern "C" __declspec(dllexport) int MDFile(const char* file_name,
                                            char* digest) {
  return Digest(file_name, kWholeFile, digest);
}

// Writes the MD5 digest of the first `length` bytes of the named file into
// `digest`, as MDFile does for a whole file; ERROR_HANDLE_EOF where the file
// is shorter. A sealed file is verified in place with it, without a copy of
// its body.
extern "C" __declspec(dllexport) int MDFileHead(const char* file_name,
                                                long long length,
                                                char* digest) {
  if (length < 0) return ERROR_INVALID_PARAMETER;
  return Digest(file_name, static_cast<std::uint64_t>(length), digest);
}
