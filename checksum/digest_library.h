// The binding to the digest library file that computes MD5 digests.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "checksum/services.h"
#include "digest/korvik_digest.h"
#include "platform/result.h"
#include "platform/system.h"

namespace korvik {

inline constexpr std::string_view kDigestLibraryFileName = "korvik.DLL";
inline constexpr std::size_t kDigestLength = 32;

// A digest of bytes handed over piece by piece.
class DigestStream {
 public:
  virtual ~DigestStream() = default;

  // Adds the next bytes. Another thread than the starting one may call it.
  virtual Status Update(std::span<const char> data) = 0;
  // Sets `digest` to the MD5 digest of all bytes added, as MDFile writes a
  // file's. The stream takes nothing more afterwards.
  virtual Status Finish(std::string& digest) = 0;
};

class DigestLibrary {
 public:
  virtual ~DigestLibrary() = default;

  // Sets `digest` to the MD5 digest of the named file as 32 lower-case
  // hexadecimal digits. A relative name resolves against the current
  // directory.
  virtual Status MDFile(const std::string& file_name, std::string& digest) = 0;

  // Determines whether the library digests the first bytes of a file in
  // place (its export MDFileHead). False also where the library cannot be
  // loaded: the next MDFile call reports that failure.
  virtual bool OffersHeadDigest() = 0;
  // Sets `digest` to the MD5 digest of the first `length` bytes of the
  // named file, as MDFile does for a whole file.
  virtual Status MDFileHead(const std::string& file_name, std::uint64_t length,
                            std::string& digest) = 0;

  // Determines whether the library digests bytes handed over piece by piece
  // (its exports MDStreamBegin, MDStreamUpdate and MDStreamEnd). False also
  // where the library cannot be loaded.
  virtual bool OffersStreamDigest() = 0;
  // Starts a digest of bytes handed over piece by piece.
  virtual Expected<std::unique_ptr<DigestStream>> StartStream() = 0;
};

// The digest library loaded from its file on the first call.
class LoadedDigestLibrary final : public DigestLibrary {
 public:
  LoadedDigestLibrary(LibraryLoader& loader, std::string library_path);
  LoadedDigestLibrary(const LoadedDigestLibrary&) = delete;
  LoadedDigestLibrary& operator=(const LoadedDigestLibrary&) = delete;

  Status MDFile(const std::string& file_name, std::string& digest) override;
  bool OffersHeadDigest() override;
  Status MDFileHead(const std::string& file_name, std::uint64_t length,
                    std::string& digest) override;
  bool OffersStreamDigest() override;
  Expected<std::unique_ptr<DigestStream>> StartStream() override;

  // The exports of a digest fed piece by piece, all three or none.
  struct StreamFunctions {
    digest::MDStreamBeginFunction begin = nullptr;
    digest::MDStreamUpdateFunction update = nullptr;
    digest::MDStreamEndFunction end = nullptr;
  };

 private:
  Status Load();
  // Calls `digest_into` with the single-byte name and a buffer of 32
  // blanks, as the library's functions take them.
  template <typename Function>
  Status Call(const std::string& file_name, std::string& digest,
              Function digest_into);

  LibraryLoader& loader_;
  std::string library_path_;
  digest::MDFileFunction md_file_ = nullptr;
  digest::MDFileHeadFunction md_file_head_ = nullptr;  // optional
  StreamFunctions stream_;                             // optional
};

// Returns the path of the digest library file in the program's directory.
std::string DigestLibraryPath(Process& process,
                              PathSyntax paths = PathSyntax::Native());

// Determines whether the digest library file lies in the program's
// directory, as an ordinary file.
Expected<bool> DigestLibraryPresent(const Services& services);

}  // namespace korvik
