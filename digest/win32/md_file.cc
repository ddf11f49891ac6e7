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
#include "digest/korvik_digest.h"
#include "digest/stream_context.h"

namespace {

constexpr DWORD kReadSize = DWORD{1} << 20;

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using File = std::unique_ptr<void, HandleCloser>;

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

// A digest under way: CNG keeps the hash object itself.
struct HashState {
  BCRYPT_ALG_HANDLE provider = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
};
static_assert(sizeof(HashState) <= korvik::digest::kStreamContextSize &&
              alignof(HashState) <= korvik::digest::kStreamAlignment);

DWORD BeginHash(HashState& state) {
  NTSTATUS status = ::BCryptOpenAlgorithmProvider(
      &state.provider, BCRYPT_MD5_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(status)) return ErrorOf(status);
  status = ::BCryptCreateHash(state.provider, &state.hash, nullptr, 0, nullptr,
                              0, 0);
  if (!BCRYPT_SUCCESS(status)) {
    ::BCryptCloseAlgorithmProvider(state.provider, 0);
    return ErrorOf(status);
  }
  return ERROR_SUCCESS;
}

DWORD AddToHash(HashState& state, const unsigned char* data,
                std::uint64_t length) {
  while (length > 0) {
    // BCryptHashData takes at most a ULONG at a time.
    const auto part =
        static_cast<ULONG>(std::min<std::uint64_t>(length, ULONG{1} << 30));
    const NTSTATUS status =
        ::BCryptHashData(state.hash, const_cast<unsigned char*>(data), part, 0);
    if (!BCRYPT_SUCCESS(status)) return ErrorOf(status);
    data += part;
    length -= part;
  }
  return ERROR_SUCCESS;
}

// Writes the digest to `raw` where given, and releases the state.
DWORD EndHash(HashState& state, unsigned char* raw) {
  NTSTATUS status = 0;
  if (raw != nullptr) {
    status = ::BCryptFinishHash(state.hash, raw, korvik::digest::kMd5Size, 0);
  }
  ::BCryptDestroyHash(state.hash);
  ::BCryptCloseAlgorithmProvider(state.provider, 0);
  return BCRYPT_SUCCESS(status) ? ERROR_SUCCESS : ErrorOf(status);
}

constexpr std::uint64_t kWholeFile = UINT64_MAX;

// Feeds the first `length` bytes of `file`, or all of them for kWholeFile,
// to `state`; ERROR_HANDLE_EOF where the file ends before `length`.
DWORD HashFile(HANDLE file, HashState& state, std::uint64_t length) {
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
    if (const DWORD error = AddToHash(state, buffer.get(), count)) {
      return error;
    }
    if (length != kWholeFile) length -= count;
  }
  return ERROR_SUCCESS;
}

DWORD DigestFile(const char* file_name, std::uint64_t length,
                 unsigned char (&raw)[korvik::digest::kMd5Size]) {
  File file;
  if (const DWORD error = OpenRegularFile(file_name, file)) return error;
  HashState state;
  if (const DWORD error = BeginHash(state)) return error;
  const DWORD error = HashFile(file.get(), state, length);
  const DWORD ended = EndHash(state, error == ERROR_SUCCESS ? raw : nullptr);
  return error != ERROR_SUCCESS ? error : ended;
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

// The exports, as digest/korvik_digest.h describes them; errors are Win32
// error codes.
extern "C" __declspec(dllexport) int MDFile(const char* file_name,
                                            char* digest) {
  return Digest(file_name, kWholeFile, digest);
}

extern "C" __declspec(dllexport) int MDFileHead(const char* file_name,
                                                long long length,
                                                char* digest) {
  if (length < 0) return ERROR_INVALID_PARAMETER;
  return Digest(file_name, static_cast<std::uint64_t>(length), digest);
}

extern "C" __declspec(dllexport) int MDStreamBegin(void* context,
                                                   long long context_size) {
  if (context == nullptr || context_size < 0 ||
      static_cast<std::uint64_t>(context_size) < sizeof(HashState)) {
    return ERROR_INVALID_PARAMETER;
  }
  return static_cast<int>(BeginHash(*new (context) HashState));
}

extern "C" __declspec(dllexport) int MDStreamUpdate(void* context,
                                                    const char* data,
                                                    long long length) {
  if (context == nullptr || length < 0 || (data == nullptr && length > 0)) {
    return ERROR_INVALID_PARAMETER;
  }
  return static_cast<int>(
      AddToHash(*static_cast<HashState*>(context),
                reinterpret_cast<const unsigned char*>(data),
                static_cast<std::uint64_t>(length)));
}

extern "C" __declspec(dllexport) int MDStreamEnd(void* context, char* digest) {
  if (context == nullptr) return ERROR_INVALID_PARAMETER;
  unsigned char raw[korvik::digest::kMd5Size];
  const DWORD error = EndHash(*static_cast<HashState*>(context),
                              digest != nullptr ? raw : nullptr);
  if (error == ERROR_SUCCESS && digest != nullptr) {
    korvik::digest::WriteHexDigits(raw, digest);
  }
  return static_cast<int>(error);
}
