// The batch program on Windows, run as a batch file would run it: korvik.exe
// and korvik.DLL copied alone into an empty folder, started with a command
// line exactly as typed, files given by drive-letter paths.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "platform/win32/wide.h"
#include "tests/md5_hex.h"

namespace korvik {
namespace {

using win32::Narrow;
using win32::Widen;

constexpr char kRule[] =
    "--------------------------------------------------------------------------"
    "------";

// Returns the build's program directory as Windows sees it: Wine shows the
// Unix root as drive Z:.
std::wstring BuiltProgramDirectory() {
  std::wstring path = Widen(KORVIK_PROGRAM_DIR);
  if (path.starts_with(L"/")) path = L"Z:" + path;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

std::string ReadFile(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const std::wstring& path, const std::string& content) {
  std::ofstream(std::filesystem::path(path), std::ios::binary | std::ios::trunc)
      << content;
}

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A folder of its own under the temporary directory, removed afterwards.
class Folder {
 public:
  explicit Folder(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + name + L"-" +
            std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(::GetTickCount64());
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~Folder() { RemoveTree(path_); }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const {
    return path_ + L"\\" + name;
  }

 private:
  static void RemoveTree(const std::wstring& directory) {
    WIN32_FIND_DATAW entry;
    const HANDLE find = ::FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = directory + L"\\" + name;
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(path);
        } else {
          ::DeleteFileW(path.c_str());
        }
      } while (::FindNextFileW(find, &entry));
      ::FindClose(find);
    }
    ::RemoveDirectoryW(directory.c_str());
  }

  std::wstring path_;
};

// Starts `command` in `folder`. Under load, Wine now and then reports
// ERROR_INTERNAL_ERROR when a new process dies while Wine itself is still
// setting it up, before any of the program runs: such a start is tried
// again.
bool Start(std::wstring command, const std::wstring& folder,
           PROCESS_INFORMATION& process) {
  for (int attempt = 0;; ++attempt) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0,
                         nullptr, folder.c_str(), &startup, &process)) {
      return true;
    }
    if (::GetLastError() != ERROR_INTERNAL_ERROR || attempt == 2) return false;
    ::Sleep(500);
  }
}

struct Outcome {
  DWORD exit_code = 0;
  std::string log;      // what this run appended to ravlo.log
  bool marker = false;  // ravlo.Out left behind
};

class BatchTest : public testing::Test {
 protected:
  BatchTest() {
    for (const wchar_t* file : {L"korvik.exe", L"korvik.DLL"}) {
      ::CopyFileW((BuiltProgramDirectory() + L"\\" + file).c_str(),
                  (program_ / file).c_str(), TRUE);
    }
  }

  // Starts korvik.exe with `arguments` after its name, exactly as typed,
  // in the run folder; returns what it left there.
  Outcome Korvik(const std::wstring& arguments) {
    const std::wstring log_path = run_ / L"ravlo.log";
    const std::string before = ReadFile(log_path);
    std::wstring command = L"\"" + (program_ / L"korvik.exe") + L"\" ";
    command += arguments;
    PROCESS_INFORMATION process{};
    Outcome run;
    if (!Start(command, run_.path(), process)) {
      ADD_FAILURE() << "cannot start korvik.exe: " << ::GetLastError();
      return run;
    }
    ::WaitForSingleObject(process.hProcess, 120'000);
    ::GetExitCodeProcess(process.hProcess, &run.exit_code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    run.log = ReadFile(log_path).substr(before.size());
    run.marker = Exists(run_ / L"ravlo.Out");
    return run;
  }

  // Returns the message line of a run log, without "Message : ".
  static std::string Message(const Outcome& run) {
    const std::size_t at = run.log.find("\r\nMessage : ");
    if (at == std::string::npos) return "";
    const std::size_t from = at + 12;
    return run.log.substr(from, run.log.find("\r\nKorvik", from) - from);
  }

  // Returns `path` as the program's messages show it: in upper case.
  static std::string Upper(const std::wstring& path) {
    std::wstring upper = path;
    ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    return Narrow(upper);
  }

  Folder program_{L"korvik-program"};
  Folder run_{L"korvik-run"};
  Folder data_{L"korvik-data"};
};

TEST_F(BatchTest, VerificationLogFollowsTheWorkedExample) {
  const std::wstring data = run_ / L"report.txt";
  WriteFile(data, "first line\r\nsecond line\r\n");
  ASSERT_EQ(Korvik(L"-A " + data).exit_code, 0u);
  const Outcome run = Korvik(L"-v report.txt");
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_FALSE(run.marker);
  // The date as dd/mm/yyyy with the locale's separator, the time in the
  // locale's long format.
  const std::string stamp = "\\d{2}.\\d{2}.\\d{4} , \\d{1,2}:\\d{2}:\\d{2}.*";
  const std::regex expected("\r\n\r\n" + std::string(kRule) +
                            "\r\nKorvik Checksum Utility : Started : " + stamp +
                            "\r\nCommand Line Arguments : -v report.txt"
                            "\r\nOperation : Verify Checksum."
                            "\r\nResult : Successful."
                            "\r\nMessage : Checksum Matches File Contents."
                            "\r\nKorvik Checksum Utility : Ended : " +
                            stamp + "\r\n" + kRule + "\r\n");
  EXPECT_TRUE(std::regex_match(run.log, expected)) << run.log;
}

TEST_F(BatchTest, SealVerifyAndTamper) {
  const std::wstring data = data_ / L"orders.txt";
  WriteFile(data, "order;item\norder-1;bolts\rorder-2;nuts");
  const Outcome sealed = Korvik(L"-a " + data);
  EXPECT_EQ(Message(sealed), "Hash Appended successfully to : " + Upper(data));
  EXPECT_FALSE(sealed.marker);
  // A lone LF stays, a lone CR and the end of the last line become CR LF.
  const std::string text = "order;item\norder-1;bolts\r\norder-2;nuts\r\n";
  const std::string content = ReadFile(data);
  ASSERT_EQ(content.size(), text.size() + 32);
  EXPECT_EQ(content.substr(0, text.size()), text);
  EXPECT_EQ(content.substr(text.size()), Md5Hex(text));

  EXPECT_EQ(Message(Korvik(L"-V " + data)), "Checksum Matches File Contents.");
  std::string changed = content;
  changed[3] = 'X';
  WriteFile(data, changed);
  const Outcome tampered = Korvik(L"-V" + data);
  EXPECT_EQ(Message(tampered), "Checksum Does Not Match File Contents");
  EXPECT_FALSE(tampered.marker);
  EXPECT_EQ(ReadFile(data), changed);
}

TEST_F(BatchTest, DriveLetterPathsBecomeUpperCase) {
  const std::wstring data = data_ / L"Mixed Case.txt";
  WriteFile(data, "x\r\n");
  std::wstring lower = data;
  lower[0] = static_cast<wchar_t>(::towlower(lower[0]));
  const Outcome run = Korvik(L"-G " + lower);
  ASSERT_EQ(Message(run), "Hash Appended successfully to : " + Upper(data));
  EXPECT_TRUE(Upper(data).starts_with("C:\\"));
}

TEST_F(BatchTest, UnusableNamesFailTheRun) {
  const std::wstring hidden = data_ / L"hidden.txt";
  const std::wstring system = data_ / L"system.txt";
  WriteFile(hidden, "x\r\n");
  WriteFile(system, "x\r\n");
  ::SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
  ::SetFileAttributesW(system.c_str(), FILE_ATTRIBUTE_SYSTEM);
  for (const std::wstring& name :
       {hidden, system, data_.path(), data_.path() + L"\\", data_ / L"*.txt",
        data_ / L"missing.txt", L"\"" + hidden + L"\""}) {
    SCOPED_TRACE(Narrow(name));
    for (const wchar_t* operation : {L"-A ", L"-V "}) {
      const Outcome run = Korvik(operation + name);
      EXPECT_EQ(Message(run), "Invalid/Missing File Name!");
      EXPECT_TRUE(run.marker);
    }
  }
  EXPECT_EQ(ReadFile(hidden), "x\r\n");
  EXPECT_EQ(ReadFile(system), "x\r\n");
}

TEST_F(BatchTest, CommandLineReachesTheLogAsTyped) {
  const Outcome run = Korvik(L"  -X   \"quoted name\"  ");
  // The blanks after the program's name part it from the command text.
  EXPECT_NE(run.log.find("\r\nCommand Line Arguments : -X   \"quoted name\""
                         "  \r\nInvalid Command Line Arguments !\r\n"),
            std::string::npos)
      << run.log;
  EXPECT_TRUE(run.marker);
}

TEST_F(BatchTest, ReadOnlyFileIsRefusedUnchanged) {
  const std::wstring data = data_ / L"read-only.txt";
  WriteFile(data, "a\rb");
  ::SetFileAttributesW(data.c_str(), FILE_ATTRIBUTE_READONLY);
  const Outcome run = Korvik(L"-A " + data);
  EXPECT_EQ(Message(run),
            "Error occured while trying to open file : " + Upper(data));
  EXPECT_TRUE(run.marker);
  EXPECT_EQ(ReadFile(data), "a\rb");
}

TEST_F(BatchTest, NamesOutsideTheAnsiCodePage) {
  for (const std::wstring name : {L"данные.txt", L"データ.txt"}) {
    const std::wstring data = data_ / name;
    WriteFile(data, "line\n");
    const Outcome sealed = Korvik(L"-A " + data);
    EXPECT_EQ(Message(sealed),
              "Hash Appended successfully to : " + Upper(data));
    EXPECT_EQ(Message(Korvik(L"-V " + data)),
              "Checksum Matches File Contents.");
  }
}

TEST_F(BatchTest, MissingDigestLibraryIsNamed) {
  ASSERT_TRUE(::DeleteFileW((program_ / L"korvik.DLL").c_str()));
  const std::wstring data = data_ / L"a.txt";
  WriteFile(data, "a\rb");
  EXPECT_EQ(Message(Korvik(L"-A " + data)),
            " Unexpected Error :  Checksum Library file korvik.DLL is "
            "missing.");
  // Sealing rewrites the lines before it looks for the library.
  EXPECT_EQ(ReadFile(data), "a\r\nb\r\n");
  EXPECT_EQ(Message(Korvik(L"-V " + data)),
            " Unexpected Error :  Checksum Library files korvik.DLL) are "
            "missing.");
}

TEST_F(BatchTest, DigestLibraryInTheCurrentFolderIsNeverLoaded) {
  // A DLL planted where the run starts must not stand in for the missing
  // one of the program's folder.
  ASSERT_TRUE(::MoveFileW((program_ / L"korvik.DLL").c_str(),
                          (run_ / L"korvik.DLL").c_str()));
  const std::wstring data = data_ / L"a.txt";
  WriteFile(data, "a\r\n");
  EXPECT_EQ(Message(Korvik(L"-A " + data)),
            " Unexpected Error :  Checksum Library file korvik.DLL is "
            "missing.");
}

TEST_F(BatchTest, OldMarkerGoesAtTheStart) {
  WriteFile(run_ / L"RAVLO.OUT", "an earlier run");
  const std::wstring data = data_ / L"a.txt";
  WriteFile(data, "a\r\n");
  const Outcome run = Korvik(L"-A " + data);
  EXPECT_FALSE(run.marker);
  Outcome failed = Korvik(L"-X " + data);
  EXPECT_TRUE(failed.marker);
  EXPECT_EQ(ReadFile(run_ / L"ravlo.Out"), failed.log);
}

TEST_F(BatchTest, ParallelRunsFromOneFolderTakeTurns) {
  // Each file needs a whole rewrite through the work file of the run folder.
  constexpr int kRuns = 8;
  std::vector<PROCESS_INFORMATION> processes(kRuns);
  for (int i = 0; i < kRuns; ++i) {
    const std::wstring data = data_ / (L"f" + std::to_wstring(i) + L".txt");
    WriteFile(data, "line " + std::to_string(i) + "\rnext\r");
    ASSERT_TRUE(Start(L"\"" + (program_ / L"korvik.exe") + L"\" -A " + data,
                      run_.path(), processes[i]));
  }
  for (PROCESS_INFORMATION& process : processes) {
    ::WaitForSingleObject(process.hProcess, 120'000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  EXPECT_FALSE(Exists(run_ / L"ravlo.Out"));
  EXPECT_FALSE(Exists(run_ / L"~~~~MD5.TMP"));
  for (int i = 0; i < kRuns; ++i) {
    const std::string text = "line " + std::to_string(i) + "\r\nnext\r\n";
    EXPECT_EQ(ReadFile(data_ / (L"f" + std::to_wstring(i) + L".txt")),
              text + Md5Hex(text));
  }
}

TEST_F(BatchTest, FileOverFourGibibytes) {
  const std::wstring data = data_ / L"big.dat";
  {
    const HANDLE file =
        ::CreateFileW(data.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD ignored;
    ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored,
                      nullptr);
    LARGE_INTEGER end;
    end.QuadPart = (LONGLONG{1} << 32) + 7;
    ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
    DWORD written;
    ::WriteFile(file, "\r\n", 2, &written, nullptr);
    ::CloseHandle(file);
  }
  EXPECT_EQ(Message(Korvik(L"-A " + data)),
            "Hash Appended successfully to : " + Upper(data));
  WIN32_FILE_ATTRIBUTE_DATA info;
  ASSERT_TRUE(
      ::GetFileAttributesExW(data.c_str(), GetFileExInfoStandard, &info));
  EXPECT_EQ((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
            (std::uint64_t{1} << 32) + 9 + 32);
  EXPECT_EQ(Message(Korvik(L"-V " + data)), "Checksum Matches File Contents.");
}

}  // namespace
}  // namespace korvik
