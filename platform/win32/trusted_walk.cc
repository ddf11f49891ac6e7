#include "platform/win32/trusted_walk.h"

#include <aclapi.h>

#include <deque>
#include <memory>

#include "platform/win32/wide.h"

namespace korvik::win32 {
namespace {

// As many links as Windows follows in one path.
constexpr int kMaxLinks = 63;
constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Returns the length of the root of the absolute `path` ("C:\",
// "\\srv\pub\"), 0 where it has none.
std::size_t RootLength(std::wstring_view path) {
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return 3;
  if (!path.starts_with(L"\\\\")) return 0;
  const std::size_t share = path.find(L'\\', 2);
  if (share == std::wstring_view::npos) return 0;
  const std::size_t end = path.find(L'\\', share + 1);
  return end == std::wstring_view::npos ? path.size() : end + 1;
}

std::deque<std::wstring> Names(std::wstring_view path) {
  std::deque<std::wstring> names;
  while (!path.empty()) {
    const std::size_t end = std::min(path.find_first_of(L"\\/"), path.size());
    if (end > 0) names.emplace_back(path.substr(0, end));
    path.remove_prefix(std::min(end + 1, path.size()));
  }
  return names;
}

// Opens `path` itself, a link not followed, only to look at it and at its
// owner; `share` decides whether it can be renamed while open.
HANDLE OpenEntry(const std::wstring& path, DWORD share) {
  constexpr DWORD kFlags =
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE entry =
      ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL, share,
                    nullptr, OPEN_EXISTING, kFlags, nullptr);
  // Without the right to read its owner, a link counts as another user's.
  if (entry == INVALID_HANDLE_VALUE &&
      ::GetLastError() == ERROR_ACCESS_DENIED) {
    entry = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, share, nullptr,
                          OPEN_EXISTING, kFlags, nullptr);
  }
  return entry;
}

// Returns where the link `link` leads by now, every further link resolved;
// empty where it leads nowhere.
std::wstring LinkTarget(const std::wstring& link) {
  const HANDLE target =
      ::CreateFileW(link.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (target == INVALID_HANDLE_VALUE) return L"";
  std::wstring path = FillBuffer([&](wchar_t* buffer, DWORD size) {
    return ::GetFinalPathNameByHandleW(target, buffer, size,
                                       FILE_NAME_NORMALIZED);
  });
  ::CloseHandle(target);
  if (path.starts_with(L"\\\\?\\UNC\\")) return L"\\" + path.substr(7);
  if (path.starts_with(L"\\\\?\\")) return path.substr(4);
  return path;
}

// Determines whether `whom` is the user the process runs as, the
// administrators or the system.
bool IsTrustedSid(PSID whom) {
  if (::IsWellKnownSid(whom, WinBuiltinAdministratorsSid) ||
      ::IsWellKnownSid(whom, WinLocalSystemSid)) {
    return true;
  }
  HANDLE token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return false;
  }
  alignas(TOKEN_USER) char user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  const bool known =
      ::GetTokenInformation(token, TokenUser, user, sizeof user, &size);
  ::CloseHandle(token);
  return known &&
         ::EqualSid(whom, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
}

}  // namespace

bool IsLink(HANDLE entry, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (!::GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &tag,
                                      sizeof tag)) {
    return true;
  }
  return IsReparseTagNameSurrogate(tag.ReparseTag);
}

std::optional<Security> ReadSecurity(HANDLE entry, SECURITY_INFORMATION what) {
  Security read;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(entry, SE_FILE_OBJECT, what, &read.owner, nullptr,
                        &read.access, nullptr, &descriptor) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  read.descriptor.reset(descriptor);
  return read;
}

bool OwnedByTrustedUser(HANDLE entry) {
  const auto security = ReadSecurity(entry, OWNER_SECURITY_INFORMATION);
  return security && IsTrustedSid(security->owner);
}

bool OthersMayAddFiles(HANDLE folder) {
  const auto security = ReadSecurity(folder, DACL_SECURITY_INFORMATION);
  if (!security || security->access == nullptr) return true;
  PACL access = security->access;
  constexpr DWORD kAdding =
      FILE_ADD_FILE | GENERIC_WRITE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER;
  for (DWORD index = 0; index < access->AceCount; ++index) {
    void* entry = nullptr;
    if (!::GetAce(access, index, &entry)) return true;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
        (allowed->Mask & kAdding) == 0) {
      continue;
    }
    PSID whom = const_cast<DWORD*>(&allowed->SidStart);
    if (!IsTrustedSid(whom) && !::IsWellKnownSid(whom, WinCreatorOwnerSid)) {
      return true;
    }
  }
  return false;
}

void HeldFolders::Release() {
  for (HANDLE folder : handles_) ::CloseHandle(folder);
  handles_.clear();
}

Expected<WalkEnd> WalkTrusted(const std::wstring& full, HeldFolders& held) {
  std::size_t root = RootLength(full);
  if (root == 0) {
    return ErrorFromCode(ERROR_BAD_PATHNAME, "look up", Narrow(full));
  }
  std::wstring current = full.substr(0, root);
  if (!current.ends_with(L'\\')) current += L'\\';
  std::deque<std::wstring> rest = Names(std::wstring_view(full).substr(root));
  WalkEnd end;
  int links = 0;
  while (!rest.empty()) {
    const std::wstring name = std::move(rest.front());
    rest.pop_front();
    if (name == L".") continue;
    if (name == L"..") {
      if (current.size() > RootLength(current)) {
        current.resize(current.find_last_of(L'\\', current.size() - 2) + 1);
      }
      continue;
    }
    const std::wstring next = current + name;
    const bool last = rest.empty();
    // Folders on the way are held from renaming; the entry itself is not.
    const HANDLE entry =
        OpenEntry(next, last ? kShareAll : FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (entry == INVALID_HANDLE_VALUE) {
      const DWORD code = ::GetLastError();
      if (NamesNothing(code)) return end;
      return ErrorFromCode(code, "look up", Narrow(next));
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(entry, &info)) {
      Error failed = LastError("look up", Narrow(next));
      ::CloseHandle(entry);
      return failed;
    }
    if (IsLink(entry, info.dwFileAttributes)) {
      const bool trusted = OwnedByTrustedUser(entry);
      ::CloseHandle(entry);
      end.untrusted = !trusted;
      if (!trusted || ++links > kMaxLinks) return end;
      // The link's target is walked name by name like any other path.
      const std::wstring target = LinkTarget(next);
      root = RootLength(target);
      if (root == 0) return end;
      current = target.substr(0, root);
      if (!current.ends_with(L'\\')) current += L'\\';
      std::deque<std::wstring> names =
          Names(std::wstring_view(target).substr(root));
      rest.insert(rest.begin(), names.begin(), names.end());
      continue;
    }
    if (last) {
      end.entry = entry;
      end.path = next;
      return end;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      ::CloseHandle(entry);
      return end;
    }
    held.Add(entry);
    current = next + L'\\';
  }
  // The path named a folder by "." or ".." at its end, or the root.
  end.entry =
      ::CreateFileW(current.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (end.entry == INVALID_HANDLE_VALUE) {
    return LastError("look up", Narrow(current));
  }
  end.path = current;
  return end;
}

}  // namespace korvik::win32
