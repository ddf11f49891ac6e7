// The digest library: MD5 of a named file, for the checksum program to load
// at run time. OpenSSL's MD5 is linked in statically, so loading it costs
// no further libraries.
#define OPENSSL_SUPPRESS_DEPRECATED  // the plain MD5 calls, without EVP
#include <fcntl.h>
#include <openssl/md5.h>
#include <pthread.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "digest/hex_digits.h"
#include "digest/korvik_digest.h"
#include "digest/stream_context.h"

// MD5_Final wipes its state with OPENSSL_cleanse. Given here, it keeps
// libcrypto's processor probe out of the library: that probe runs at every
// load, and on a virtual machine each of its CPUID instructions traps to the
// host, which costs a small file's run more than its digest. MD5 does not
// depend on what it finds.
extern "C" void OPENSSL_cleanse(void* memory, std::size_t length) {
  ::explicit_bzero(memory, length);
}

namespace {

static_assert(sizeof(MD5_CTX) <= korvik::digest::kStreamContextSize &&
              alignof(MD5_CTX) <= korvik::digest::kStreamAlignment);

constexpr std::size_t kReadSize = std::size_t{1} << 20;

constexpr std::uint64_t kWholeFile = UINT64_MAX;

// Blocks read ahead of the hashing, so that reading and hashing run side by
// side on two cores: where the second core is free, a 1 GiB file was
// verified 4% faster from the page cache and a third faster from disk.
constexpr std::uint64_t kBuffers = 3;

// A file read on one thread while another hashes what was read. Plain POSIX
// threads: the library needs no C++ run-time library, whose loading would
// cost every run more than the overlap saves on a small file.
struct ReadAhead {
  int fd;
  std::uint64_t length;  // bytes left to read, or kWholeFile
  char* memory;          // kBuffers blocks of kReadSize
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
  // Guarded by mutex:
  std::size_t sizes[kBuffers] = {};
  std::uint64_t filled = 0;  // blocks read
  std::uint64_t hashed = 0;  // blocks hashed
  bool ended = false;        // nothing more will be read
  int result = 0;            // 0 or an errno value

  char* Buffer(std::uint64_t block) {
    return memory + (block % kBuffers) * kReadSize;
  }

  // Reads the blocks, kBuffers at most ahead of the hashing.
  void Read() {
    for (std::uint64_t block = 0; length > 0; ++block) {
      pthread_mutex_lock(&mutex);
      while (block - hashed >= kBuffers) pthread_cond_wait(&changed, &mutex);
      pthread_mutex_unlock(&mutex);
      ssize_t n;
      do {
        n = ::read(fd, Buffer(block),
                   std::min<std::uint64_t>(length, kReadSize));
      } while (n < 0 && errno == EINTR);
      if (n <= 0) {
        const int error = n < 0 ? errno : (length != kWholeFile ? EIO : 0);
        pthread_mutex_lock(&mutex);
        result = error;
        pthread_mutex_unlock(&mutex);
        break;
      }
      if (length != kWholeFile) length -= static_cast<std::uint64_t>(n);
      pthread_mutex_lock(&mutex);
      sizes[block % kBuffers] = static_cast<std::size_t>(n);
      filled = block + 1;
      pthread_cond_broadcast(&changed);
      pthread_mutex_unlock(&mutex);
    }
    pthread_mutex_lock(&mutex);
    ended = true;
    pthread_cond_broadcast(&changed);
    pthread_mutex_unlock(&mutex);
  }

  // Hashes the blocks as they are read, up to the last.
  void Hash(MD5_CTX& context) {
    for (std::uint64_t block = 0;; ++block) {
      pthread_mutex_lock(&mutex);
      while (filled <= block && !ended) pthread_cond_wait(&changed, &mutex);
      const bool more = filled > block;
      const std::size_t size = sizes[block % kBuffers];
      pthread_mutex_unlock(&mutex);
      if (!more) return;
      MD5_Update(&context, Buffer(block), size);
      pthread_mutex_lock(&mutex);
      hashed = block + 1;
      pthread_cond_broadcast(&changed);
      pthread_mutex_unlock(&mutex);
    }
  }
};

// Hashes the first `length` bytes of `fd`, or all of them for kWholeFile,
// in the calling thread alone, in reads of `read_size` bytes; returns as
// HashDescriptor does.
int HashInTurn(int fd, MD5_CTX& context, std::uint64_t length,
               std::size_t read_size) {
  void* buffer = std::malloc(read_size);
  if (buffer == nullptr) return ENOMEM;
  int result = 0;
  while (length > 0) {
    const ssize_t n =
        ::read(fd, buffer, std::min<std::uint64_t>(length, read_size));
    if (n == 0) {
      if (length != kWholeFile) result = EIO;
      break;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      result = errno;
      break;
    }
    MD5_Update(&context, buffer, static_cast<std::size_t>(n));
    if (length != kWholeFile) length -= static_cast<std::uint64_t>(n);
  }
  std::free(buffer);
  return result;
}

// Hashes the first `length` bytes of `fd`, or all of them for kWholeFile,
// where the file holds `size` bytes now; returns 0 or an errno value (EIO
// where the file ends before `length`).
int HashDescriptor(int fd, MD5_CTX& context, std::uint64_t length,
                   std::uint64_t size) {
  // A second thread costs more than it saves on a few blocks; a small file
  // needs no more room than its bytes and the read that finds its end.
  const std::uint64_t expected = std::min(length, size);
  if (expected < kBuffers * kReadSize) {
    return HashInTurn(fd, context, length,
                      std::min<std::uint64_t>(expected + 1, kReadSize));
  }
  char* memory = static_cast<char*>(std::malloc(kBuffers * kReadSize));
  if (memory == nullptr) return ENOMEM;
  ReadAhead ahead{fd, length, memory};
  pthread_t reader;
  int result = pthread_create(
      &reader, nullptr,
      [](void* self) -> void* {
        static_cast<ReadAhead*>(self)->Read();
        return nullptr;
      },
      &ahead);
  if (result == 0) {
    ahead.Hash(context);
    pthread_join(reader, nullptr);
    result = ahead.result;
  }
  std::free(memory);
  return result;
}

// Digests the first `length` bytes of the named regular file into `digest`.
int DigestFile(const char* file_name, std::uint64_t length, char* digest) {
  if (file_name == nullptr || digest == nullptr) return EINVAL;
  // Only regular files: a FIFO or device could stall the reads forever.
  constexpr int kFlags = O_RDONLY | O_CLOEXEC;
  const int fd = ::open(file_name, kFlags | O_NONBLOCK);
  if (fd < 0) return errno;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return EINVAL;
  }
  // F_SETFL takes only the status flags: O_NONBLOCK is cleared.
  ::fcntl(fd, F_SETFL, kFlags);
  // Read-ahead matters from a few blocks on only.
  if (static_cast<std::uint64_t>(st.st_size) >= kReadSize) {
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  MD5_CTX context;
  MD5_Init(&context);
  const int result = HashDescriptor(fd, context, length,
                                    static_cast<std::uint64_t>(st.st_size));
  ::close(fd);
  unsigned char raw[korvik::digest::kMd5Size];
  MD5_Final(raw, &context);
  if (result == 0) korvik::digest::WriteHexDigits(raw, digest);
  return result;
}

}  // namespace

// The exports, as digest/korvik_digest.h describes them; errors are errno
// values.
extern "C" __attribute__((visibility("default"))) int MDFile(
    const char* file_name, char* digest) {
  return DigestFile(file_name, kWholeFile, digest);
}

extern "C" __attribute__((visibility("default"))) int MDFileHead(
    const char* file_name, long long length, char* digest) {
  if (length < 0) return EINVAL;
  return DigestFile(file_name, static_cast<std::uint64_t>(length), digest);
}

extern "C" __attribute__((visibility("default"))) int MDStreamBegin(
    void* context, long long context_size) {
  if (context == nullptr || context_size < 0 ||
      static_cast<std::uint64_t>(context_size) < sizeof(MD5_CTX)) {
    return EINVAL;
  }
  MD5_Init(static_cast<MD5_CTX*>(context));
  return 0;
}

extern "C" __attribute__((visibility("default"))) int MDStreamUpdate(
    void* context, const char* data, long long length) {
  if (context == nullptr || length < 0 || (data == nullptr && length > 0)) {
    return EINVAL;
  }
  MD5_Update(static_cast<MD5_CTX*>(context), data,
             static_cast<std::size_t>(length));
  return 0;
}

extern "C" __attribute__((visibility("default"))) int MDStreamEnd(
    void* context, char* digest) {
  if (context == nullptr) return EINVAL;
  unsigned char raw[korvik::digest::kMd5Size];
  MD5_Final(raw, static_cast<MD5_CTX*>(context));
  if (digest != nullptr) korvik::digest::WriteHexDigits(raw, digest);
  return 0;
}
