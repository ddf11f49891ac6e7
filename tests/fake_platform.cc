#include "tests/fake_platform.h"

#include <cerrno>
#include <cstdio>

namespace korvik {

Status FakeProcess::SetCurrentDirectory(const std::string& path) {
  auto info = files_.Stat(path);
  if (!info.ok()) return info.status();
  if (info->kind != EntryKind::kDirectory) {
    return Error::FromErrno(ENOTDIR, "change to", path);
  }
  files_.set_current_directory(path);
  return Status::Ok();
}

std::tm FakeClock::Now() {
  std::tm time{};
  time.tm_mday = 6;
  time.tm_mon = 11;
  time.tm_year = 126;
  time.tm_hour = 14;
  time.tm_min = 5;
  time.tm_sec = 9 + readings++ / 2;
  return time;
}

std::string FakeLocale::FormatTime(const std::tm& time) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", time.tm_hour, time.tm_min,
                time.tm_sec);
  return text;
}

std::string FakeLocale::ToUpper(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string FakeDriveInfo::DriveName(const std::string& path) {
  if (!network_drive.empty() && path.starts_with(network_drive)) {
    return network_drive;
  }
  return "";
}

Expected<Drive> FakeDriveInfo::FindDrive(const std::string& drive_name) {
  if (fail_lookup) return Error(ErrorKind::kNotFound, "no drive " + drive_name);
  return Drive{drive_name == network_drive, share_name};
}

Status FakeDigestLibrary::MDFile(const std::string& file_name,
                                 std::string& digest) {
  ++calls;
  if (before_digest) std::exchange(before_digest, nullptr)();
  if (fail) return Error::FromErrno(EIO, "digest", file_name);
  auto info = files_.Stat(file_name);
  if (!info.ok() || info->kind != EntryKind::kRegular) {
    return Error::FromErrno(ENOENT, "digest", file_name);
  }
  digest = Md5Hex(files_.Contents(file_name));
  return Status::Ok();
}

Status FakeDigestLibrary::MDFileHead(const std::string& file_name,
                                     std::uint64_t length,
                                     std::string& digest) {
  if (!offers_head) return Error(ErrorKind::kNotFound, "no MDFileHead");
  std::string whole;
  if (Status digested = MDFile(file_name, whole); !digested.ok()) {
    return digested;
  }
  const std::string content = files_.Contents(file_name);
  if (length > content.size())
    return Error::FromErrno(EIO, "digest", file_name);
  digest = Md5Hex(std::string_view(content).substr(0, length));
  return Status::Ok();
}

namespace {

// Keeps what it is fed and digests it whole at the end.
class FakeDigestStream : public DigestStream {
 public:
  explicit FakeDigestStream(bool fail_updates) : fail_updates_(fail_updates) {}
  Status Update(std::span<const char> data) override {
    if (fail_updates_) return Error::FromErrno(EIO, "digest", "stream");
    data_.append(data.data(), data.size());
    return Status::Ok();
  }
  Status Finish(std::string& digest) override {
    digest = Md5Hex(data_);
    return Status::Ok();
  }

 private:
  bool fail_updates_;
  std::string data_;
};

}  // namespace

Expected<std::unique_ptr<DigestStream>> FakeDigestLibrary::StartStream() {
  if (!offers_stream) return Error(ErrorKind::kNotFound, "no MDStreamBegin");
  ++streams;
  if (fail) return Error::FromErrno(EIO, "digest", "stream");
  return std::unique_ptr<DigestStream>(
      std::make_unique<FakeDigestStream>(fail_stream_updates));
}

FakeWorld::FakeWorld() {
  files.AddDirectory("/work");
  files.AddDirectory("/tmp");
  files.AddDirectory(process.program_directory);
  files.set_current_directory("/work");
  InstallDigestLibrary();
}

void FakeWorld::InstallDigestLibrary() {
  files.AddFile(DigestLibraryPath(process, PathSyntax::Posix()), "library",
                0755);
}

}  // namespace korvik
