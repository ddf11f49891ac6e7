// The built digest library korvik.DLL, loaded as the program loads it (by
// its full path, from the program's own directory), and the names that the
// program hands to it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/digest_name.h"
#include "tests/digest_library_cases.h"

namespace korvik {
namespace {

using digest_test::DigestBuffer;
using digest_test::kDigits;
using digest_test::KnownDigest;
using digest_test::kRfc1321Suite;
using digest_test::kSentinel;
using digest_test::MDFileFunction;

namespace fs = std::filesystem;

fs::path FromUtf8(std::string_view utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const fs::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
}

fs::path ProgramDirectory() {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, name.data(),
                                              static_cast<DWORD>(name.size()));
    if (length < name.size()) {
      name.resize(length);
      return fs::path(name).parent_path();
    }
    name.resize(2 * name.size());
  }
}

// A fresh directory in the temporary directory, removed with everything in
// it on destruction.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    for (unsigned attempt = ::GetTickCount();; ++attempt) {
      path_ = fs::temp_directory_path() /
              ("korvik-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
               std::to_string(attempt));
      if (fs::create_directory(path_)) return;
    }
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// Creates `path` with `content` and returns it still open with `access`,
// shared for reading only: the least that a writer must share.
Handle CreateHeldFile(const fs::path& path, std::string_view content,
                      DWORD access = GENERIC_WRITE) {
  Handle file(::CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    file.release();
    ADD_FAILURE() << "cannot create " << path << ": " << ::GetLastError();
    return file;
  }
  DWORD written = 0;
  EXPECT_TRUE(::WriteFile(file.get(), content.data(),
                          static_cast<DWORD>(content.size()), &written,
                          nullptr));
  EXPECT_EQ(written, content.size());
  return file;
}

void MakeFile(const fs::path& path, std::string_view content) {
  CreateHeldFile(path, content);
}

class DigestLibraryTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    library_path_ = new fs::path(ProgramDirectory() / L"korvik.DLL");
    // By full path only: the search order would let a planted DLL stand in.
    library_ = ::LoadLibraryExW(library_path_->c_str(), nullptr,
                                LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library_ == nullptr) {
      load_error_ = ::GetLastError();
      return;
    }
    md_file_ = reinterpret_cast<MDFileFunction>(
        reinterpret_cast<void*>(::GetProcAddress(library_, "MDFile")));
    if (md_file_ == nullptr) load_error_ = ::GetLastError();
  }
  static void TearDownTestSuite() {
    if (library_ != nullptr) ::FreeLibrary(library_);
    library_ = nullptr;
    md_file_ = nullptr;
    delete library_path_;
  }

  void SetUp() override {
    ASSERT_NE(md_file_, nullptr)
        << *library_path_ << ": Win32 error " << load_error_;
  }

  // MDFile on `name` as the program calls it.
  int Digest(const std::string& name, DigestBuffer& buffer) {
    return md_file_(name.c_str(), buffer.bytes);
  }

  // MDFile on the file `path`, by the name the program would hand over.
  std::string DigestByName(const fs::path& path) {
    const Expected<std::string> name = DigestLibraryName(Utf8Of(path));
    if (!name.ok()) return "no name: " + name.error().description();
    DigestBuffer buffer;
    const int code = Digest(*name, buffer);
    if (code != 0) return "MDFile failed: " + std::to_string(code);
    EXPECT_EQ(buffer.bytes[kDigits], kSentinel);
    return buffer.digits();
  }

  fs::path PathOf(std::string_view utf8_name) const {
    return scratch_.path() / FromUtf8(utf8_name);
  }

  static fs::path* library_path_;
  static HMODULE library_;
  static MDFileFunction md_file_;
  static DWORD load_error_;
  ScratchDirectory scratch_;
};

fs::path* DigestLibraryTest::library_path_ = nullptr;
HMODULE DigestLibraryTest::library_ = nullptr;
MDFileFunction DigestLibraryTest::md_file_ = nullptr;
DWORD DigestLibraryTest::load_error_ = 0;

class Rfc1321SuiteTest : public DigestLibraryTest,
                         public testing::WithParamInterface<KnownDigest> {};

TEST_P(Rfc1321SuiteTest, WritesTheDigestAsLowerCaseHexOnly) {
  const fs::path path = PathOf("data.bin");
  MakeFile(path, GetParam().content);
  EXPECT_EQ(DigestByName(path), GetParam().digest);
}

INSTANTIATE_TEST_SUITE_P(Rfc1321, Rfc1321SuiteTest,
                         testing::ValuesIn(kRfc1321Suite),
                         [](const testing::TestParamInfo<KnownDigest>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(DigestLibraryTest, DigestsAFileOfSeveralReads) {
  std::string content(5 << 20, '\0');
  std::uint32_t state = 1;
  for (char& c : content) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  MakeFile(PathOf("five.bin"), content);
  // md5sum on Linux of the same bytes, made with
  //   python3 -c 'import sys; x=1; b=bytearray(5<<20)
  //   for i in range(len(b)): x=(x*1664525+1013904223)&0xffffffff; b[i]=x>>24
  //   sys.stdout.buffer.write(b)' | md5sum
  EXPECT_EQ(DigestByName(PathOf("five.bin")),
            "41f19575afb4e53ae5df838e4e863e0a");
}

// The program digests its work file while it still holds it open for
// writing (and, to put it in place later, for deleting).
class HeldFileTest : public DigestLibraryTest,
                     public testing::WithParamInterface<DWORD> {};

TEST_P(HeldFileTest, DigestsWhatTheWriterWrote) {
  const fs::path path = PathOf("held.tmp");
  const Handle writer = CreateHeldFile(path, "abc", GetParam());
  EXPECT_EQ(DigestByName(path), "900150983cd24fb0d6963f7d28e17f72");
}

INSTANTIATE_TEST_SUITE_P(Access, HeldFileTest,
                         testing::Values(GENERIC_WRITE, GENERIC_WRITE | DELETE),
                         [](const testing::TestParamInfo<DWORD>& info) {
                           return info.param == GENERIC_WRITE ? "Write"
                                                              : "WriteDelete";
                         });

// Names that are no regular file: the call fails and leaves the caller's
// buffer as it was.
TEST_F(DigestLibraryTest, RefusesWhatIsNoRegularFile) {
  const fs::path directory = PathOf("folder");
  fs::create_directory(directory);
  for (const std::string& name : {Utf8Of(directory), std::string("NUL")}) {
    DigestBuffer buffer;
    EXPECT_NE(Digest(name, buffer), 0) << name;
    EXPECT_TRUE(buffer.untouched()) << name << ": " << buffer.digits();
  }
}

TEST_F(DigestLibraryTest, RefusesAMissingFile) {
  DigestBuffer buffer;
  EXPECT_EQ(Digest(Utf8Of(PathOf("missing.txt")), buffer),
            ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(buffer.untouched()) << buffer.digits();
}

TEST_F(DigestLibraryTest, RefusesNullArguments) {
  DigestBuffer buffer;
  EXPECT_NE(md_file_(nullptr, buffer.bytes), 0);
  EXPECT_TRUE(buffer.untouched());
  MakeFile(PathOf("a.txt"), "a");
  EXPECT_NE(md_file_(Utf8Of(PathOf("a.txt")).c_str(), nullptr), 0);
}

// Names in scripts that the ANSI code page may not hold: Latin with an
// accent (held by code page 1252), Cyrillic, CJK, and a CJK name in a
// Cyrillic folder.
struct ScriptCase {
  const char* name;
  const char* folder;
  const char* file;
};

void PrintTo(const ScriptCase& c, std::ostream* os) { *os << c.name; }

class ScriptNameTest : public DigestLibraryTest,
                       public testing::WithParamInterface<ScriptCase> {};

TEST_P(ScriptNameTest, DigestsTheFileNamedSo) {
  const fs::path folder = PathOf(GetParam().folder);
  fs::create_directories(folder);
  const fs::path path = folder / FromUtf8(GetParam().file);
  MakeFile(path, "abc");
  // A neighbour that a wrong name could reach instead.
  MakeFile(folder / FromUtf8(std::string("x") + GetParam().file), "a");
  EXPECT_EQ(DigestByName(path), "900150983cd24fb0d6963f7d28e17f72");
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, ScriptNameTest,
    testing::Values(ScriptCase{"Latin", "plain", "caf\u00e9 cr\u00e8me.txt"},
                    ScriptCase{"Cyrillic", "plain",
                               "\u043e\u0442\u0447\u0451\u0442 \u0437\u0430 "
                               "\u043c\u0430\u0439.txt"},
                    ScriptCase{"Cjk", "plain", "\u6708\u62a5\u8868.txt"},
                    ScriptCase{"CjkInCyrillicFolder",
                               "\u0434\u0430\u043d\u043d\u044b\u0435",
                               "\u6570\u636e.csv"}),
    [](const testing::TestParamInfo<ScriptCase>& info) {
      return std::string(info.param.name);
    });

// The premise of this build of the tests: the process's ANSI code page is
// UTF-8 (by the manifest) or a code page of the system's locale.
TEST(AnsiCodePageTest, IsTheOneThisBuildIsFor) {
  EXPECT_EQ(::GetACP() == CP_UTF8, KORVIK_UTF8_CODE_PAGE) << ::GetACP();
}

TEST_F(DigestLibraryTest, AMissingFileInAnotherScriptIsNoFile) {
  const Expected<std::string> name =
      DigestLibraryName(Utf8Of(PathOf("\u0444\u0430\u0439\u043b.txt")));
  // Without an ANSI form the short name is needed, and a missing file has
  // none; with one, MDFile itself finds no file.
  if (!name.ok()) {
    EXPECT_EQ(name.error().native_code(), ERROR_FILE_NOT_FOUND);
    return;
  }
  DigestBuffer buffer;
  EXPECT_EQ(Digest(*name, buffer), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(buffer.untouched());
}

TEST(DigestLibraryNameTest, RefusesWhatNamesNoFile) {
  const std::string path = "C:\\data\\a\xff.txt";  // no UTF-8
  const Expected<std::string> broken = DigestLibraryName(path);
  ASSERT_FALSE(broken.ok());
  EXPECT_EQ(broken.error().native_code(), ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_NE(broken.error().description().find(path), std::string::npos)
      << broken.error().description();

  // The library would see only the part before the zero.
  const Expected<std::string> cut =
      DigestLibraryName(std::string("C:\\a.txt\0.exe", 14));
  ASSERT_FALSE(cut.ok());
  EXPECT_EQ(cut.error().native_code(), ERROR_INVALID_NAME);
}

// The library file's own tables: it offers MDFile and MDFileHead, and it
// needs no DLL beside it, only those of the system.
struct PeTables {
  std::vector<std::string> exports;
  std::vector<std::string> imports;
};

PeTables ReadPeTables(HMODULE module) {
  const auto* base = reinterpret_cast<const unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY* directories = nt->OptionalHeader.DataDirectory;
  PeTables tables;

  const IMAGE_DATA_DIRECTORY& exports =
      directories[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (exports.Size != 0) {
    const auto* directory = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
        base + exports.VirtualAddress);
    const auto* names =
        reinterpret_cast<const DWORD*>(base + directory->AddressOfNames);
    for (DWORD i = 0; i < directory->NumberOfNames; ++i) {
      tables.exports.emplace_back(
          reinterpret_cast<const char*>(base + names[i]));
    }
    // Functions offered by number only have no name.
    EXPECT_EQ(directory->NumberOfFunctions, directory->NumberOfNames);
  }

  const IMAGE_DATA_DIRECTORY& imports =
      directories[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.Size != 0) {
    for (const auto* descriptor =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
                 base + imports.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
      std::string name(reinterpret_cast<const char*>(base + descriptor->Name));
      for (char& c : name) c = static_cast<char>(std::tolower(c));
      tables.imports.push_back(name);
    }
  }
  EXPECT_EQ(directories[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].Size, 0u);
  return tables;
}

TEST_F(DigestLibraryTest, HeadDigestCoversTheFirstBytesOnly) {
  const auto head = reinterpret_cast<digest_test::MDFileHeadFunction>(
      reinterpret_cast<void*>(::GetProcAddress(library_, "MDFileHead")));
  ASSERT_NE(head, nullptr) << "korvik.DLL exports no MDFileHead";
  const fs::path path = PathOf("sealed.txt");
  MakeFile(path, digest_test::kHeadContent);
  const std::string name = Utf8Of(path);
  DigestBuffer buffer;
  EXPECT_EQ(head(name.c_str(), digest_test::kHeadLength, buffer.bytes), 0);
  EXPECT_EQ(buffer.digits(), digest_test::kHeadDigest);
  EXPECT_EQ(buffer.bytes[kDigits], kSentinel);

  DigestBuffer past_the_end;
  EXPECT_EQ(head(name.c_str(),
                 static_cast<long long>(digest_test::kHeadContent.size() + 1),
                 past_the_end.bytes),
            static_cast<int>(ERROR_HANDLE_EOF));
  EXPECT_TRUE(past_the_end.untouched());
}

// The exports that digest bytes handed over piece by piece, for the
// rewrite to digest what it writes as it writes it.
TEST_F(DigestLibraryTest, StreamDigestMatchesTheFileDigest) {
  auto function = [](const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(library_, name));
  };
  digest_test::StreamExports exports;
  exports.begin = reinterpret_cast<digest_test::MDStreamBeginFunction>(
      function("MDStreamBegin"));
  exports.update = reinterpret_cast<digest_test::MDStreamUpdateFunction>(
      function("MDStreamUpdate"));
  exports.end = reinterpret_cast<digest_test::MDStreamEndFunction>(
      function("MDStreamEnd"));
  digest_test::ExpectStreamDigests(exports);

  std::string content((3 << 20) + 17, '\0');
  std::uint32_t state = 11;
  for (char& c : content) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  MakeFile(PathOf("three.bin"), content);
  DigestBuffer by_pieces;
  EXPECT_EQ(digest_test::StreamDigest(exports, content, 65537, by_pieces), 0);
  EXPECT_EQ(by_pieces.digits(), DigestByName(PathOf("three.bin")));
}

TEST_F(DigestLibraryTest, ExportsItsFunctionsAndNeedsOnlySystemDlls) {
  const PeTables tables = ReadPeTables(library_);
  EXPECT_EQ(tables.exports,
            (std::vector<std::string>{"MDFile", "MDFileHead", "MDStreamBegin",
                                      "MDStreamEnd", "MDStreamUpdate"}));
  const std::set<std::string> system = {"kernel32.dll", "bcrypt.dll",
                                        "ntdll.dll", "msvcrt.dll"};
  for (const std::string& name : tables.imports) {
    EXPECT_TRUE(system.contains(name)) << "korvik.DLL needs " << name;
  }
}

}  // namespace
}  // namespace korvik
