// The contract world of the Windows back end, in a scratch folder (under Wine).
#pragma once

#include <windows.h>

#include "platform/win32/win32_file_system.h"
#include "tests/contract/file_system_contract.h"

namespace korvik {

constexpr DWORD kTold =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;

class SystemWorld : public RealWorld {
 public:
  static std::string Name() { return "Win32"; }
  ~SystemWorld() override {
    // Read-only files are not removed.
    for (const std::string& path : read_only_) {
      ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
  }

  FileSystem& files() override { return files_; }
  // Only administrators (or developer mode) make links.
  bool MakeLink(const std::string&, const std::string&) override {
    return false;
  }
  bool MakeForeignLink(const std::string&, const std::string&) override {
    return false;
  }
  bool MakeReadOnly(const std::string& path) override {
    read_only_.push_back(path);
    return ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  }
  bool OpenToOthers(const std::string&) override { return false; }
  std::optional<std::string> OtherVolume() override { return std::nullopt; }
  void SetDistinctAttributes(const std::string& path) override {
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
  }
  std::uint32_t AttributesOf(const std::string& path) override {
    return ::GetFileAttributesA(path.c_str()) & kTold;
  }
  // Wine renames a folder whatever handles are open on it.
  bool PinsHeldFolders() override {
    return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"),
                            "wine_get_version") == nullptr;
  }

 private:
  Win32FileSystem files_;
  std::vector<std::string> read_only_;
};

}  // namespace korvik
