// The contract world of the POSIX back end, in a scratch folder.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/posix/posix_file_system.h"
#include "tests/contract/file_system_contract.h"

namespace korvik {

// An unprivileged user's number, as Debian gives "nobody".
constexpr uid_t kNobody = 65534;

class SystemWorld : public RealWorld {
 public:
  static std::string Name() { return "Posix"; }
  ~SystemWorld() override {
    if (!other_.empty()) std::filesystem::remove_all(other_);
  }

  FileSystem& files() override { return files_; }
  bool MakeLink(const std::string& path, const std::string& target) override {
    std::filesystem::create_symlink(target, path);
    return true;
  }
  bool MakeForeignLink(const std::string& path,
                       const std::string& target) override {
    if (::geteuid() != 0) return false;
    std::filesystem::create_symlink(target, path);
    return ::lchown(path.c_str(), kNobody, kNobody) == 0;
  }
  bool MakeReadOnly(const std::string& path) override {
    // Root may write anything.
    return ::chmod(path.c_str(), 0444) == 0 && ::geteuid() != 0;
  }
  bool OpenToOthers(const std::string& folder) override {
    return ::chmod(folder.c_str(), 0777) == 0;
  }
  // A tmpfs, where it is another file system than the scratch folder's.
  std::optional<std::string> OtherVolume() override {
    struct stat shm;
    struct stat scratch;
    if (::stat("/dev/shm", &shm) != 0 ||
        ::stat(scratch_.c_str(), &scratch) != 0 ||
        shm.st_dev == scratch.st_dev) {
      return std::nullopt;
    }
    std::string folder = "/dev/shm/korvik-contract-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) return std::nullopt;
    other_ = folder;
    return folder;
  }
  void SetDistinctAttributes(const std::string& path) override {
    ::chmod(path.c_str(), 0640);
  }
  std::uint32_t AttributesOf(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }

 private:
  PosixFileSystem files_;
  std::string other_;
};

}  // namespace korvik
