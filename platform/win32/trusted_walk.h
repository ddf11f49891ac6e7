// A walk down a path that follows only the links (reparse points that stand
// for other names) of the user the process runs as or of the administrator,
// and holds every folder it went through; and the tests of who owns an
// entry or may write in a folder that it and the run log rely on.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/result.h"

namespace korvik::win32 {

// Folders held open without FILE_SHARE_DELETE: while held, none of them can
// be renamed, removed or put aside for a link in its place.
class HeldFolders {
 public:
  HeldFolders() = default;
  HeldFolders(HeldFolders&& other) noexcept
      : handles_(std::exchange(other.handles_, {})) {}
  HeldFolders& operator=(HeldFolders&& other) noexcept {
    Release();
    handles_ = std::exchange(other.handles_, {});
    return *this;
  }
  ~HeldFolders() { Release(); }

  void Add(HANDLE folder) { handles_.push_back(folder); }
  void Release();

 private:
  std::vector<HANDLE> handles_;
};

// What GetSecurityInfo hands out of an open entry's security descriptor:
// its owner or its access list, which live as long as the descriptor.
struct Security {
  PSID owner = nullptr;
  PACL access = nullptr;  // null: no list, everybody may do everything
  std::unique_ptr<void, decltype(&::LocalFree)> descriptor{nullptr,
                                                           &::LocalFree};
};

// Reads `what` (OWNER_SECURITY_INFORMATION, DACL_SECURITY_INFORMATION) of
// the entry open as `entry` (with READ_CONTROL); nothing where it cannot.
std::optional<Security> ReadSecurity(HANDLE entry, SECURITY_INFORMATION what);

// Determines whether the entry open as `entry`, with `attributes`, is a
// reparse point that stands for another name (a symbolic link, a junction),
// not one that only stores data.
bool IsLink(HANDLE entry, DWORD attributes);

// Determines whether the user the process runs as, the administrators or
// the system own the entry open as `entry` (with READ_CONTROL).
bool OwnedByTrustedUser(HANDLE entry);

// Determines whether the folder's access list lets anybody else put files
// in it (the folder open with READ_CONTROL).
bool OthersMayAddFiles(HANDLE folder);

// Where a walk ended: the entry, open only to look at it (no handle where
// the name leads nowhere), and its path with every link resolved.
struct WalkEnd {
  HANDLE entry = INVALID_HANDLE_VALUE;
  std::wstring path;
  bool untrusted = false;  // another user's link is on the way
};

// Walks the absolute path `full` name by name from its root, holding in
// `held` each folder it passes.
Expected<WalkEnd> WalkTrusted(const std::wstring& full, HeldFolders& held);

}  // namespace korvik::win32
