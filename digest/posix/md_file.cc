// The digest library: MD5 of a named file, for the checksum program to load
// at run time. OpenSSL's MD5 is linked in statically, so loading it costs
// no further libraries.
#define OPENSSL_SUPPRESS_DEPRECATED  // the plain MD5 calls, without EVP
#include <fcntl.h>
#include <openssl/md5.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "digest/hex_digits.h"
#include "digest/stream_context.h"

namespace {

static_assert(sizeof(MD5_CTX) <= korvik::digest::kStreamContextSize &&
              alignof(MD5_CTX) <= korvik::digest::kStreamAlignment);

constexpr std::size_t kReadSize = std::size_t{1} << 20;

constexpr std::uint64_t kWholeFile = UINT64_MAX;

// Blocks read ahead of the hashing, so that reading and hashing run side by
// side on two cores: where the second core is free, a 1 GiB file was
// verified 4% faster from the page cache and a third faster from disk.
constexpr std::uint64_t kBuffers = 3;

// Hashes the first `length` bytes of `fd`, or all of them for kWholeFile;
// returns 0 or an errno value (EIO where the file ends before `length`).
int HashDescriptor(int fd, MD5_CTX& context, std::uint64_t length) {
  std::unique_ptr<char[]> memory(new (std::nothrow) char[kBuffers * kReadSize]);
  if (!memory) return ENOMEM;
  auto buffer = [&](std::uint64_t block) {
    return memory.get() + (block % kBuffers) * kReadSize;
  };
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t sizes[kBuffers];
  std::uint64_t filled = 0;  // blocks read, guarded by mutex
  std::uint64_t hashed = 0;  // blocks hashed, guarded by mutex
  bool ended = false;        // nothing more to read, guarded by mutex
  int result = 0;            // guarded by mutex

  auto read_ahead = [&] {
    for (std::uint64_t block = 0; length > 0; ++block) {
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return block - hashed < kBuffers; });
      }
      ssize_t n;
      do {
        n = ::read(fd, buffer(block),
                   std::min<std::uint64_t>(length, kReadSize));
      } while (n < 0 && errno == EINTR);
      if (n <= 0) {
        const int error = n < 0 ? errno : (length != kWholeFile ? EIO : 0);
        std::lock_guard lock(mutex);
        result = error;
        break;
      }
      if (length != kWholeFile) length -= static_cast<std::uint64_t>(n);
      {
        std::lock_guard lock(mutex);
        sizes[block % kBuffers] = static_cast<std::size_t>(n);
        filled = block + 1;
      }
      changed.notify_all();
    }
    {
      std::lock_guard lock(mutex);
      ended = true;
    }
    changed.notify_all();
  };
  std::thread reader;
  try {
    reader = std::thread(read_ahead);
  } catch (const std::system_error& error) {
    return error.code().value();
  }

  for (std::uint64_t block = 0;; ++block) {
    std::size_t size;
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return filled > block || ended; });
      if (filled <= block) break;
      size = sizes[block % kBuffers];
    }
    MD5_Update(&context, buffer(block), size);
    {
      std::lock_guard lock(mutex);
      hashed = block + 1;
    }
    changed.notify_all();
  }
  reader.join();
  return result;
}

// Digests the first `length` bytes of the named regular file into `digest`.
int DigestFile(const char* file_name, std::uint64_t length, char* digest) {
  if (file_name == nullptr || digest == nullptr) return EINVAL;
  // Only regular files: a FIFO or device could stall the reads forever.
  const int fd = ::open(file_name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return EINVAL;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  MD5_CTX context;
  MD5_Init(&context);
  const int result = HashDescriptor(fd, context, length);
  ::close(fd);
  unsigned char raw[korvik::digest::kMd5Size];
  MD5_Final(raw, &context);
  if (result == 0) korvik::digest::WriteHexDigits(raw, digest);
  return result;
}

}  // namespace

// Writes the MD5 digest of the named file into `digest` as 32 lower-case
// hexadecimal digits (no terminating zero of its own). Returns 0 on success;
// otherwise an errno value, and `digest` keeps what it held.
extern "C" __attribute__((visibility("default"))) int MDFile(
    const char* file_name, char* digest) {
  return DigestFile(file_name, kWholeFile, digest);
}

// Writes the MD5 digest of the first `length` bytes of the named file into
// `digest`, as MDFile does for a whole file; EIO where the file is shorter.
// A sealed file is verified in place with it, without a copy of its body.
extern "C" __attribute__((visibility("default"))) int MDFileHead(
    const char* file_name, long long length, char* digest) {
  if (length < 0) return EINVAL;
  return DigestFile(file_name, static_cast<std::uint64_t>(length), digest);
}

// Starts a digest of bytes handed over piece by piece, its state kept in the
// caller's `context` of `context_size` bytes (kStreamContextSize are always
// enough). Returns 0, or EINVAL where the context is too small. Every
// started digest ends with MDStreamEnd.
extern "C" __attribute__((visibility("default"))) int MDStreamBegin(
    void* context, long long context_size) {
  if (context == nullptr || context_size < 0 ||
      static_cast<std::uint64_t>(context_size) < sizeof(MD5_CTX)) {
    return EINVAL;
  }
  MD5_Init(static_cast<MD5_CTX*>(context));
  return 0;
}

// Adds the next `length` bytes at `data` to the digest in `context`.
extern "C" __attribute__((visibility("default"))) int MDStreamUpdate(
    void* context, const char* data, long long length) {
  if (context == nullptr || length < 0 || (data == nullptr && length > 0)) {
    return EINVAL;
  }
  MD5_Update(static_cast<MD5_CTX*>(context), data,
             static_cast<std::size_t>(length));
  return 0;
}

// Ends the digest in `context` and writes it into `digest` as MDFile does;
// a null `digest` abandons it. The context may then be started anew.
extern "C" __attribute__((visibility("default"))) int MDStreamEnd(
    void* context, char* digest) {
  if (context == nullptr) return EINVAL;
  unsigned char raw[korvik::digest::kMd5Size];
  MD5_Final(raw, static_cast<MD5_CTX*>(context));
  if (digest != nullptr) korvik::digest::WriteHexDigits(raw, digest);
  return 0;
}
