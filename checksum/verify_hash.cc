#include <cerrno>
#include <optional>

#include "checksum/digest_library.h"
#include "checksum/entries.h"
#include "checksum/operations.h"
#include "platform/path.h"

namespace korvik {
namespace {

constexpr char kLibraryMissing[] =
    " Unexpected Error :  Checksum Library files korvik.DLL) are missing.";
constexpr char kNoHash[] = "File Does not Contain any Hash.";
constexpr char kMismatch[] = "Checksum Does Not Match File Contents";
constexpr char kMatch[] = "Checksum Matches File Contents.";
constexpr char kFailure[] = "Error Verifying Hash : ";

// A verification's copy of the body, removed again on every path.
class WorkFile {
 public:
  explicit WorkFile(FileSystem& files) : files_(files) {}
  WorkFile(const WorkFile&) = delete;
  WorkFile& operator=(const WorkFile&) = delete;
  ~WorkFile() { (void)Release(); }

  // Creates the work file beside the data file, or in `temp_directory`
  // where the data file's directory does not accept it.
  Status Create(const std::string& data_file,
                const std::string& temp_directory);
  // Removes the work file (while still holding it, so that a verification
  // waiting for the same name sees it gone) and closes it.
  Status Release();

  FileHandle handle() const { return handle_; }
  const std::string& path() const { return path_; }

 private:
  Status CreateBeside(const std::string& data_file);
  Status CreateInTemp(const std::string& data_file,
                      const std::string& temp_directory);

  FileSystem& files_;
  FileHandle handle_ = -1;
  std::string path_;
};

bool RefusesNewFiles(int code) {
  return code == EACCES || code == EPERM || code == EROFS ||
         code == ENAMETOOLONG;
}

Status WorkFile::Create(const std::string& data_file,
                        const std::string& temp_directory) {
  Status beside = CreateBeside(data_file);
  const bool refused =
      !beside.ok() && handle_ < 0 && RefusesNewFiles(beside.error().code());
  return refused ? CreateInTemp(data_file, temp_directory) : beside;
}

Status WorkFile::CreateBeside(const std::string& data_file) {
  const std::string path = data_file + kVerifyWorkFileSuffix;
  // Verifications of one file at the same time take turns on its work file:
  // a turn starts once the lock is held on the file that bears the name.
  // Where the file system offers no locks, the turn is not guarded.
  for (;;) {
    auto opened = files_.Open(path, OpenMode::kCreatePrivate);
    if (!opened.ok()) return opened.status();
    (void)files_.Lock(*opened);
    handle_ = *opened;
    path_ = path;
    auto held = files_.StatHandle(handle_);
    if (!held.ok()) return held.status();
    auto named = files_.Stat(path);
    if (!named.ok()) return named.status();
    if (named->kind != EntryKind::kMissing && named->inode == held->inode &&
        named->device == held->device) {
      // A new file is left alone: on ext4, truncating a file makes its
      // close flush the data written after, a cost for nothing here.
      return held->size == 0 ? Status::Ok() : files_.Truncate(handle_, 0);
    }
    // The previous holder removed it: the name is not ours to remove.
    (void)files_.Close(handle_);
    handle_ = -1;
  }
}

Status WorkFile::CreateInTemp(const std::string& data_file,
                              const std::string& temp_directory) {
  // Long names are cut so that the unique suffix still fits.
  const std::string prefix =
      std::string(path::BaseName(data_file).substr(0, 200)) +
      kVerifyWorkFileSuffix;
  auto created = files_.CreateUnique(temp_directory, prefix);
  if (!created.ok()) return created.status();
  handle_ = created->handle;
  path_ = created->path;
  return Status::Ok();
}

Status WorkFile::Release() {
  if (handle_ < 0) return Status::Ok();
  Status removed = files_.Remove(path_);
  Status closed = files_.Close(handle_);
  handle_ = -1;
  return removed.ok() ? closed : removed;
}

// Reads exactly buffer.size() bytes at `offset`.
Status ReadExactly(FileSystem& files, FileHandle file, std::span<char> buffer,
                   std::uint64_t offset) {
  while (!buffer.empty()) {
    auto got = files.ReadAt(file, buffer, offset);
    if (!got.ok()) return got.status();
    if (*got == 0) return Error(EIO, "read: the file ended early");
    buffer = buffer.subspan(*got);
    offset += *got;
  }
  return Status::Ok();
}

// Runs the checks from opening the data file on; returns the verdict and
// its message, or the failure.
Expected<VerificationResult> Check(const Services& services,
                                   const std::string& file_name,
                                   std::string& message) {
  FileSystem& files = services.files;
  auto opened = files.Open(file_name, OpenMode::kRead);
  if (!opened.ok()) return opened.error();
  ScopedFile data(files, *opened);

  WorkFile work(files);
  if (Status created = work.Create(file_name, services.process.TempDirectory());
      !created.ok()) {
    return created.error();
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
  if (Status copied = files.CopyRange(data.get(), 0, work.handle(), 0, body);
      !copied.ok()) {
    return copied.error();
  }

  std::string digest;
  if (Status digested = services.digest.MDFile(work.path(), digest);
      !digested.ok()) {
    return digested.error();
  }
  if (Status closed = data.Close(); !closed.ok()) return closed.error();
  if (Status released = work.Release(); !released.ok()) {
    return released.error();
  }
  if (digest != trailer) {
    message = kMismatch;
    return VerificationResult::kMismatch;
  }
  message = kMatch;
  return VerificationResult::kMatch;
}

}  // namespace

VerificationResult VerifyHash(const Services& services,
                              const std::string& file_name,
                              std::string& message) {
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
  auto verdict = Check(services, file_name, message);
  return verdict.ok() ? *verdict : fail(verdict.error());
}

}  // namespace korvik
