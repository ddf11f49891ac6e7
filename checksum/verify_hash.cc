#include <optional>

#include "checksum/digest_library.h"
#include "checksum/digest_route.h"
#include "checksum/entries.h"
#include "checksum/operations.h"

namespace korvik {
namespace {

constexpr char kLibraryMissing[] =
    " Unexpected Error :  Checksum Library files korvik.DLL) are missing.";
constexpr char kNoHash[] = "File Does not Contain any Hash.";
constexpr char kMismatch[] = "Checksum Does Not Match File Contents";
constexpr char kMatch[] = "Checksum Matches File Contents.";
constexpr char kFailure[] = "Error Verifying Hash : ";

// A verification's copy of the body, removed again on every path. It is
// always a file this verification made itself: a name already taken, by a
// leftover or by someone else's file or link, is never opened.
class WorkFile {
 public:
  WorkFile(FileSystem& files, PathSyntax paths)
      : files_(files), paths_(paths) {}
  WorkFile(const WorkFile&) = delete;
  WorkFile& operator=(const WorkFile&) = delete;
  ~WorkFile() { (void)Release(); }

  // Creates the work file: "<data file>~@~" where that name is free, a
  // unique name beside it where it is taken, and one in `temp_directory`
  // where the data file's directory takes no new files.
  Status Create(const std::string& data_file,
                const std::string& temp_directory);
  // Removes the work file and closes it.
  Status Release();

  FileHandle handle() const { return handle_; }
  const std::string& path() const { return path_; }

 private:
  Status CreateUnique(const std::string& directory,
                      const std::string& data_file);

  FileSystem& files_;
  PathSyntax paths_;
  FileHandle handle_ = kNoFile;
  std::string path_;
};

bool RefusesNewFiles(const Error& error) {
  return error.kind() == ErrorKind::kAccessDenied ||
         error.kind() == ErrorKind::kReadOnly ||
         error.kind() == ErrorKind::kNameTooLong;
}

Status WorkFile::Create(const std::string& data_file,
                        const std::string& temp_directory) {
  const std::string path = data_file + kVerifyWorkFileSuffix;
  auto created = files_.Open(path, OpenMode::kCreateNew);
  if (created.ok()) {
    handle_ = *created;
    path_ = path;
    return Status::Ok();
  }
  Status beside = created.status();
  if (created.error().kind() == ErrorKind::kAlreadyExists) {
    beside = CreateUnique(paths_.DirectoryOf(data_file), data_file);
  }
  if (beside.ok() || !RefusesNewFiles(beside.error())) return beside;
  return CreateUnique(temp_directory, data_file);
}

Status WorkFile::CreateUnique(const std::string& directory,
                              const std::string& data_file) {
  // Long names are cut so that the unique suffix still fits.
  const std::string prefix =
      std::string(paths_.BaseName(data_file).substr(0, 200)) +
      kVerifyWorkFileSuffix;
  auto created = files_.CreateUnique(directory, prefix);
  if (!created.ok()) return created.status();
  handle_ = created->handle;
  path_ = created->path;
  return Status::Ok();
}

Status WorkFile::Release() {
  if (handle_ == kNoFile) return Status::Ok();
  Status removed = files_.Remove(path_);
  Status closed = files_.Close(handle_);
  handle_ = kNoFile;
  return removed.ok() ? closed : removed;
}

// Reads exactly buffer.size() bytes at `offset`.
Status ReadExactly(FileSystem& files, FileHandle file, std::span<char> buffer,
                   std::uint64_t offset) {
  while (!buffer.empty()) {
    auto got = files.ReadAt(file, buffer, offset);
    if (!got.ok()) return got.status();
    if (*got == 0) {
      return Error(ErrorKind::kEndOfFile, "read: the file ended early");
    }
    buffer = buffer.subspan(*got);
    offset += *got;
  }
  return Status::Ok();
}

// Digests the body where it lies, through the library's MDFileHead. The
// library reads the file by its name: that name must still lead to the file
// whose trailer was read, unchanged in length.
Expected<std::string> DigestInPlace(const Services& services,
                                    const std::string& file_name,
                                    FileHandle data, const EntryInfo& read) {
  const std::uint64_t body = read.size - kDigestLength;
  std::string digest;
  if (Status digested = services.digest.MDFileHead(file_name, body, digest);
      !digested.ok()) {
    return digested.error();
  }
  auto named = services.files.Stat(file_name);
  if (!named.ok()) return named.error();
  auto held = services.files.StatHandle(data);
  if (!held.ok()) return held.error();
  if (named->id != read.id || held->size != read.size) {
    return Error(ErrorKind::kOther,
                 "'" + file_name + "' changed while it was verified");
  }
  return digest;
}

// Digests the body through a copy in `work`, which the library reads by
// its name.
Expected<std::string> DigestThroughWorkFile(const Services& services,
                                            FileHandle data, std::uint64_t body,
                                            const WorkFile& work) {
  if (Status copied = services.files.CopyRange(data, 0, work.handle(), 0, body);
      !copied.ok()) {
    return copied.error();
  }
  std::string digest;
  if (Status digested = services.digest.MDFile(work.path(), digest);
      !digested.ok()) {
    return digested.error();
  }
  return digest;
}

// Returns the digest of the body of the data file `file_name`, open as
// `data` and found as `read`, by `route`; `work` is the work file of a route
// through one.
Expected<std::string> DigestBody(const Services& services,
                                 const DigestRoute& route,
                                 const std::string& file_name, FileHandle data,
                                 const EntryInfo& read, const WorkFile& work) {
  const std::uint64_t body = read.size - kDigestLength;
  switch (route.kind()) {
    case DigestRoute::Kind::kInPieces:
      return route.DigestInPieces(services.files, data, body);
    case DigestRoute::Kind::kInPlace:
      return DigestInPlace(services, file_name, data, read);
    case DigestRoute::Kind::kThroughWorkFile:
      return DigestThroughWorkFile(services, data, body, work);
  }
  return Error(ErrorKind::kInvalidArgument, "no such digest route");
}

// Runs the checks from opening the data file on; returns the verdict and
// its message, or the failure. The body is digested by `route`.
Expected<VerificationResult> Check(const Services& services,
                                   const DigestRoute& route,
                                   const std::string& file_name,
                                   std::string& message) {
  FileSystem& files = services.files;
  auto opened = files.Open(file_name, OpenMode::kRead);
  if (!opened.ok()) return opened.error();
  ScopedFile data(files, *opened);

  WorkFile work(files, services.paths);
  if (route.kind() == DigestRoute::Kind::kThroughWorkFile) {
    if (Status created =
            work.Create(file_name, services.process.TempDirectory());
        !created.ok()) {
      return created.error();
    }
  }

  auto info = files.StatHandle(data.get());
  if (!info.ok()) return info.error();
  const std::uint64_t length = info->size;
  if (length <= kDigestLength) {
    message = kNoHash;
    return VerificationResult::kNotChecked;
  }

  const std::uint64_t body = length - kDigestLength;
  std::string trailer(kDigestLength, '\0');
  if (Status read = ReadExactly(files, data.get(), trailer, body); !read.ok()) {
    return read.error();
  }

  auto digest = DigestBody(services, route, file_name, data.get(), *info, work);
  if (!digest.ok()) return digest.error();
  if (Status closed = data.Close(); !closed.ok()) return closed.error();
  if (Status released = work.Release(); !released.ok()) {
    return released.error();
  }
  if (*digest != trailer) {
    message = kMismatch;
    return VerificationResult::kMismatch;
  }
  message = kMatch;
  return VerificationResult::kMatch;
}

}  // namespace

VerificationResult VerifyHash(const Services& services,
                              const std::string& file_name,
                              std::string& message, Progress* watcher) {
  auto fail = [&message](const Error& error) {
    message = std::string(kFailure) + std::string(kCrLf) + error.description();
    return VerificationResult::kNotChecked;
  };

  auto ordinary = IsOrdinaryFile(services.files, file_name);
  if (!ordinary.ok()) return fail(ordinary.error());
  if (!*ordinary) {
    message = kInvalidFileName;
    return VerificationResult::kNotChecked;
  }
  auto present = DigestLibraryPresent(services);
  if (!present.ok()) return fail(present.error());
  if (!*present) {
    message = kLibraryMissing;
    return VerificationResult::kNotChecked;
  }
  auto verdict =
      Check(services, DigestRoute::ForVerification(services.digest, watcher),
            file_name, message);
  return verdict.ok() ? *verdict : fail(verdict.error());
}

}  // namespace korvik
