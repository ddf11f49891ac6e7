// The Windows back end of the platform layer, on the real system (Wine).
#include <aclapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/win32/wide.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_system.h"

namespace korvik {
namespace {

using win32::Narrow;
using win32::Widen;

TEST(Win32ProcessTest, CommandTextIsTheLineAfterTheProgramName) {
  EXPECT_EQ(CommandTextOf(L"korvik.exe -V a.txt"), "-V a.txt");
  EXPECT_EQ(CommandTextOf(L"\"C:\\Program Files\\korvik.exe\"   -v  \"a b\" "),
            "-v  \"a b\" ");
  EXPECT_EQ(CommandTextOf(L"\"C:\\korvik\\korvik.exe\"-V x"), "-V x");
  EXPECT_EQ(CommandTextOf(L"korvik.exe"), "");
  EXPECT_EQ(CommandTextOf(L"korvik.exe   "), "");
  EXPECT_EQ(CommandTextOf(L"korvik.exe -A \u0434\u0430"),
            "-A \xd0\xb4\xd0\xb0");
}

TEST(Win32LocaleTest, DateSeparatorFromTheShortDatePicture) {
  EXPECT_EQ(DateSeparatorOfPicture(L"dd.MM.yyyy"), ".");
  EXPECT_EQ(DateSeparatorOfPicture(L"M/d/yyyy"), "/");
  EXPECT_EQ(DateSeparatorOfPicture(L"yyyy-MM-dd"), "-");
  EXPECT_EQ(DateSeparatorOfPicture(L"d.M.yy"), ".");
  // Not three numbers with one separator: "/".
  EXPECT_EQ(DateSeparatorOfPicture(L"yyyy'\u5e74'M'\u6708'd'\u65e5'"), "/");
  EXPECT_EQ(DateSeparatorOfPicture(L"dd. MM. yyyy"), "/");
  EXPECT_EQ(DateSeparatorOfPicture(L"dd.MM.yyyy."), "/");
  EXPECT_EQ(DateSeparatorOfPicture(L"dd MMM yyyy"), "/");
  EXPECT_EQ(DateSeparatorOfPicture(L"dd/MM-yyyy"), "/");
  EXPECT_EQ(DateSeparatorOfPicture(L""), "/");
  // A separator beyond ASCII is one whole character.
  EXPECT_EQ(DateSeparatorOfPicture(L"dd\u00b7MM\u00b7yyyy"), "\xc2\xb7");
}

TEST(Win32LocaleTest, UpperCaseCoversEveryScript) {
  Win32Locale locale;
  EXPECT_EQ(locale.ToUpper("c:\\data\\\xd0\xb4\xd0\xb0.txt"),
            "C:\\DATA\\\xd0\x94\xd0\x90.TXT");
}

TEST(Win32DriveInfoTest, DrivePartAndType) {
  Win32DriveInfo drives;
  EXPECT_EQ(drives.DriveName("c:\\data\\a.txt"), "c:");
  EXPECT_EQ(drives.DriveName("\\\\srv\\pub\\a.txt"), "");
  auto local = drives.FindDrive("C:");
  ASSERT_TRUE(local.ok()) << local.error().description();
  EXPECT_FALSE(local->is_network);
  // Find a letter no drive has.
  for (char letter = 'Q'; letter <= 'Y'; ++letter) {
    const std::string name = std::string(1, letter) + ":";
    const std::wstring root = Widen(name + "\\");
    if (::GetDriveTypeW(root.c_str()) != DRIVE_NO_ROOT_DIR) continue;
    EXPECT_FALSE(drives.FindDrive(name).ok()) << name;
    break;
  }
}

class Win32FileSystemTest : public testing::Test {
 protected:
  Win32FileSystemTest() {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    folder_ = Narrow(temp) + "korvik-platform-" +
              std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryW(Widen(folder_).c_str(), nullptr);
  }
  ~Win32FileSystemTest() override {
    for (const char* name : {"a.txt", "b.txt", "hidden.txt", "system.txt",
                             "read-only.txt", "\xd0\xb4.txt"}) {
      const std::wstring path = Widen(In(name));
      ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileW(path.c_str());
    }
    ::RemoveDirectoryW(Widen(folder_).c_str());
  }

  std::string In(const std::string& name) const {
    return folder_ + "\\" + name;
  }
  void Write(const std::string& name, const std::string& content) const {
    std::ofstream(std::filesystem::path(Widen(In(name))), std::ios::binary)
        << content;
  }

  std::string folder_;
  Win32FileSystem files_;
};

TEST_F(Win32FileSystemTest, StatTellsKindsAndMarks) {
  Write("a.txt", "abc");
  Write("hidden.txt", "");
  Write("system.txt", "");
  ::SetFileAttributesW(Widen(In("hidden.txt")).c_str(), FILE_ATTRIBUTE_HIDDEN);
  ::SetFileAttributesW(Widen(In("system.txt")).c_str(), FILE_ATTRIBUTE_SYSTEM);

  auto a = files_.Stat(In("a.txt"));
  ASSERT_TRUE(a.ok());
  EXPECT_EQ(a->kind, EntryKind::kRegular);
  EXPECT_EQ(a->size, 3u);
  EXPECT_FALSE(a->hidden || a->system);
  EXPECT_TRUE(files_.Stat(In("hidden.txt"))->hidden);
  EXPECT_TRUE(files_.Stat(In("system.txt"))->system);
  EXPECT_EQ(files_.Stat(folder_)->kind, EntryKind::kDirectory);
  EXPECT_EQ(files_.Stat(In("missing.txt"))->kind, EntryKind::kMissing);
  // Wildcards are no characters of a name: nothing matches them.
  EXPECT_EQ(files_.Stat(In("*.txt"))->kind, EntryKind::kMissing);
  EXPECT_EQ(files_.Stat(In("a.tx?"))->kind, EntryKind::kMissing);
  // One file, whatever the letter case of its name.
  auto upper = files_.Stat(In("A.TXT"));
  ASSERT_TRUE(upper.ok());
  EXPECT_EQ(upper->id, a->id);
}

TEST_F(Win32FileSystemTest, NamesInAnyScript) {
  const std::string name = "\xd0\xb4.txt";
  Write(name, "x");
  auto opened = files_.Open(In(name), OpenMode::kRead);
  ASSERT_TRUE(opened.ok()) << opened.error().description();
  char buffer[4];
  EXPECT_EQ(*files_.Read(*opened, buffer), 1u);
  EXPECT_TRUE(files_.Close(*opened).ok());
}

TEST_F(Win32FileSystemTest, ReadOnlyFilesAreNotWritten) {
  Write("read-only.txt", "keep");
  Write("b.txt", "new");
  const std::wstring path = Widen(In("read-only.txt"));
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(files_.MayWrite(In("read-only.txt")));
  EXPECT_TRUE(files_.MayWrite(In("b.txt")));
  auto held = files_.Open(In("b.txt"), OpenMode::kRead);
  ASSERT_TRUE(held.ok());
  EXPECT_FALSE(files_
                   .Replace(*held, In("b.txt"), In("read-only.txt"),
                            files_.Stat(In("read-only.txt"))->id, {})
                   .ok());
  EXPECT_TRUE(files_.Close(*held).ok());
  EXPECT_EQ(files_.Stat(In("read-only.txt"))->size, 4u);
}

TEST_F(Win32FileSystemTest, APlantedRunLogInASharedFolderIsNotAppendedTo) {
  Write("a.txt", "keep");
  ASSERT_TRUE(::CreateHardLinkW(Widen(In("b.txt")).c_str(),
                                Widen(In("a.txt")).c_str(), nullptr));
  auto own = files_.Open(In("b.txt"), OpenMode::kAppend);
  ASSERT_TRUE(own.ok()) << own.error().description();
  EXPECT_TRUE(files_.Close(*own).ok());
  // Everybody may put files in the folder now.
  EXPLICIT_ACCESS_W everybody{};
  wchar_t name[] = L"EVERYONE";
  ::BuildExplicitAccessWithNameW(&everybody, name, GENERIC_ALL, SET_ACCESS,
                                 SUB_CONTAINERS_AND_OBJECTS_INHERIT);
  PACL access = nullptr;
  ASSERT_EQ(::SetEntriesInAclW(1, &everybody, nullptr, &access), ERROR_SUCCESS);
  std::wstring folder = Widen(folder_);
  const DWORD shared = ::SetNamedSecurityInfoW(
      folder.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
      nullptr, access, nullptr);
  ::LocalFree(access);
  ASSERT_EQ(shared, static_cast<DWORD>(ERROR_SUCCESS));
  auto planted = files_.Open(In("b.txt"), OpenMode::kAppend);
  EXPECT_FALSE(planted.ok());
  EXPECT_EQ(files_.Stat(In("a.txt"))->size, 4u);
}

TEST_F(Win32FileSystemTest, PositionsBeyondFourGibibytes) {
  auto file = files_.Open(In("a.txt"), OpenMode::kCreate);
  ASSERT_TRUE(file.ok());
  const std::uint64_t far_out = (std::uint64_t{1} << 32) + 5;
  ASSERT_TRUE(files_.WriteAt(*file, std::string("end"), far_out).ok());
  EXPECT_EQ(files_.StatHandle(*file)->size, far_out + 3);
  char buffer[3];
  EXPECT_EQ(*files_.ReadAt(*file, buffer, far_out), 3u);
  EXPECT_EQ(std::string(buffer, 3), "end");
  ASSERT_TRUE(files_.Truncate(*file, 0).ok());
  EXPECT_TRUE(files_.Close(*file).ok());
}

}  // namespace
}  // namespace korvik
