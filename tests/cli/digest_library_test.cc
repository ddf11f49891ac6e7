// The built digest library korvik.DLL, loaded the way the program loads it:
// its one function MDFile, and what the library file needs and offers.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli_support.h"
#include "tests/digest_library_cases.h"

namespace korvik::cli {
namespace {

const std::string kLibraryPath = std::string(kProgramDirectory) + "/korvik.DLL";
using digest_test::DigestBuffer;
using digest_test::kDigits;
using digest_test::KnownDigest;
using digest_test::kRfc1321Suite;
using digest_test::kSentinel;
using digest_test::MDFileFunction;

class DigestLibraryTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    handle_ = ::dlopen(kLibraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
      load_error_ = ::dlerror();
      return;
    }
    md_file_ = reinterpret_cast<MDFileFunction>(::dlsym(handle_, "MDFile"));
    if (md_file_ == nullptr) load_error_ = ::dlerror();
  }
  static void TearDownTestSuite() {
    if (handle_ != nullptr) ::dlclose(handle_);
    handle_ = nullptr;
    md_file_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(md_file_, nullptr) << kLibraryPath << ": " << load_error_;
  }

  std::string PathOf(const std::string& name) const {
    return scratch_.path() + "/" + name;
  }

  // Runs MDFile on `path` in a child process, so that a call that never
  // returns fails the test instead of stalling it.
  struct CallResult {
    bool returned = false;
    int code = -1;
    DigestBuffer buffer;
  };
  CallResult CallInChild(const std::string& path) {
    int channel[2];
    if (::pipe(channel) != 0) throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(channel[0]);
      DigestBuffer buffer;
      const int code = md_file_(path.c_str(), buffer.bytes);
      const bool sent =
          ::write(channel[1], &code, sizeof code) == sizeof code &&
          ::write(channel[1], buffer.bytes, sizeof buffer.bytes) ==
              static_cast<ssize_t>(sizeof buffer.bytes);
      ::_exit(sent ? 0 : 1);
    }
    ::close(channel[1]);
    CallResult result;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ::close(channel[0]);
        return result;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    result.returned =
        WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
        ::read(channel[0], &result.code, sizeof result.code) ==
            sizeof result.code &&
        ::read(channel[0], result.buffer.bytes, sizeof result.buffer.bytes) ==
            static_cast<ssize_t>(sizeof result.buffer.bytes);
    ::close(channel[0]);
    return result;
  }

  static void* handle_;
  static MDFileFunction md_file_;
  static std::string load_error_;
  ScratchDirectory scratch_;
};

void* DigestLibraryTest::handle_ = nullptr;
MDFileFunction DigestLibraryTest::md_file_ = nullptr;
std::string DigestLibraryTest::load_error_;

// The second export: the digest of a file's first bytes, for verifying a
// sealed file in place.
TEST_F(DigestLibraryTest, HeadDigestCoversTheFirstBytesOnly) {
  const auto head = reinterpret_cast<digest_test::MDFileHeadFunction>(
      ::dlsym(handle_, "MDFileHead"));
  ASSERT_NE(head, nullptr) << "korvik.DLL exports no MDFileHead";
  const std::string path = PathOf("sealed.txt");
  WriteFile(path, digest_test::kHeadContent);
  DigestBuffer buffer;
  EXPECT_EQ(head(path.c_str(), digest_test::kHeadLength, buffer.bytes), 0);
  EXPECT_EQ(buffer.digits(), digest_test::kHeadDigest);
  EXPECT_EQ(buffer.bytes[kDigits], kSentinel);

  DigestBuffer whole;
  EXPECT_EQ(head(path.c_str(),
                 static_cast<long long>(digest_test::kHeadContent.size()),
                 whole.bytes),
            0);
  DigestBuffer by_md_file;
  EXPECT_EQ(md_file_(path.c_str(), by_md_file.bytes), 0);
  EXPECT_EQ(whole.digits(), by_md_file.digits());

  DigestBuffer past_the_end;
  EXPECT_EQ(head(path.c_str(),
                 static_cast<long long>(digest_test::kHeadContent.size() + 1),
                 past_the_end.bytes),
            EIO);
  EXPECT_TRUE(past_the_end.untouched());
  EXPECT_EQ(head(path.c_str(), -1, past_the_end.bytes), EINVAL);
  EXPECT_TRUE(past_the_end.untouched());
}

// The exports that digest bytes handed over piece by piece, for the
// rewrite to digest what it writes as it writes it.
TEST_F(DigestLibraryTest, StreamDigestMatchesTheFileDigest) {
  digest_test::StreamExports exports;
  exports.begin = reinterpret_cast<digest_test::MDStreamBeginFunction>(
      ::dlsym(handle_, "MDStreamBegin"));
  exports.update = reinterpret_cast<digest_test::MDStreamUpdateFunction>(
      ::dlsym(handle_, "MDStreamUpdate"));
  exports.end = reinterpret_cast<digest_test::MDStreamEndFunction>(
      ::dlsym(handle_, "MDStreamEnd"));
  digest_test::ExpectStreamDigests(exports);

  std::string content((3 << 20) + 17, '\0');
  std::mt19937 random(11);
  for (char& c : content) c = static_cast<char>(random());
  const std::string path = PathOf("three.bin");
  WriteFile(path, content);
  DigestBuffer by_file;
  ASSERT_EQ(md_file_(path.c_str(), by_file.bytes), 0);
  DigestBuffer by_pieces;
  EXPECT_EQ(digest_test::StreamDigest(exports, content, 65537, by_pieces), 0);
  EXPECT_EQ(by_pieces.digits(), by_file.digits());
}

class Rfc1321SuiteTest : public DigestLibraryTest,
                         public testing::WithParamInterface<KnownDigest> {};

TEST_P(Rfc1321SuiteTest, WritesTheDigestAsLowerCaseHexOnly) {
  const std::string path = PathOf("data.bin");
  WriteFile(path, GetParam().content);
  DigestBuffer buffer;
  ASSERT_EQ(md_file_(path.c_str(), buffer.bytes), 0);
  EXPECT_EQ(buffer.digits(), GetParam().digest);
  EXPECT_EQ(buffer.bytes[kDigits], kSentinel)
      << "MDFile writes 32 digits and nothing after them";
}

INSTANTIATE_TEST_SUITE_P(Rfc1321, Rfc1321SuiteTest,
                         testing::ValuesIn(kRfc1321Suite),
                         [](const testing::TestParamInfo<KnownDigest>& info) {
                           return std::string(info.param.name);
                         });

// Files around and beyond the library's read size of 1 MiB, so that the
// digest spans several reads.
class LargeFileDigestTest : public DigestLibraryTest,
                            public testing::WithParamInterface<std::uint64_t> {
};

TEST_P(LargeFileDigestTest, MatchesOpenSsl) {
  std::mt19937 random(static_cast<unsigned>(GetParam()));
  std::string content(GetParam(), '\0');
  for (char& c : content) c = static_cast<char>(random());
  const std::string path = PathOf("large.bin");
  WriteFile(path, content);

  DigestBuffer buffer;
  ASSERT_EQ(md_file_(path.c_str(), buffer.bytes), 0);
  EXPECT_EQ(buffer.digits(), Md5Hex(content));
}

INSTANTIATE_TEST_SUITE_P(Sizes, LargeFileDigestTest,
                         testing::Values(kMiB - 1, kMiB, kMiB + 1,
                                         3 * kMiB + 17),
                         [](const testing::TestParamInfo<std::uint64_t>& info) {
                           return std::to_string(info.param) + "Bytes";
                         });

// Entries that are no readable regular file: the call fails with an errno
// value and leaves the caller's buffer as it was.
enum class Unreadable { kMissing, kDirectory, kFifo };

struct UnreadableCase {
  const char* name;
  Unreadable kind;
};

void PrintTo(const UnreadableCase& c, std::ostream* os) { *os << c.name; }

class UnreadableEntryTest : public DigestLibraryTest,
                            public testing::WithParamInterface<UnreadableCase> {
};

TEST_P(UnreadableEntryTest, FailsWithoutHangingAndKeepsTheBuffer) {
  const std::string path = PathOf("entry");
  switch (GetParam().kind) {
    case Unreadable::kMissing:
      break;
    case Unreadable::kDirectory:
      ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
      break;
    case Unreadable::kFifo:
      ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
      break;
  }
  const CallResult result = CallInChild(path);
  ASSERT_TRUE(result.returned) << "MDFile did not return for " << path;
  EXPECT_NE(result.code, 0);
  if (GetParam().kind == Unreadable::kMissing) {
    EXPECT_EQ(result.code, ENOENT);
  }
  EXPECT_TRUE(result.buffer.untouched())
      << "buffer now holds '" << result.buffer.digits() << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Entries, UnreadableEntryTest,
    testing::Values(UnreadableCase{"MissingFile", Unreadable::kMissing},
                    UnreadableCase{"Directory", Unreadable::kDirectory},
                    UnreadableCase{"Fifo", Unreadable::kFifo}),
    [](const testing::TestParamInfo<UnreadableCase>& info) {
      return std::string(info.param.name);
    });

// The dynamic section and dynamic symbols of an ELF64 file.
struct DynamicLinking {
  std::vector<std::string> needed;
  struct Symbol {
    std::string name;
    int binding;
    int type;
    int visibility;
    bool defined;
  };
  std::vector<Symbol> symbols;
};

DynamicLinking ReadDynamicLinking(const std::string& path) {
  const std::string image = ReadFile(path);
  DynamicLinking linking;
  if (image.size() < sizeof(Elf64_Ehdr) ||
      std::memcmp(image.data(), ELFMAG, SELFMAG) != 0 ||
      image[EI_CLASS] != ELFCLASS64) {
    ADD_FAILURE() << path << " is no ELF64 file";
    return linking;
  }
  Elf64_Ehdr header;
  std::memcpy(&header, image.data(), sizeof header);
  auto section = [&](std::size_t index) {
    Elf64_Shdr shdr;
    const std::size_t offset = header.e_shoff + index * header.e_shentsize;
    if (offset + sizeof shdr > image.size()) {
      throw std::runtime_error("section header out of the file");
    }
    std::memcpy(&shdr, image.data() + offset, sizeof shdr);
    return shdr;
  };
  auto string_at = [&](const Elf64_Shdr& strings, std::size_t offset) {
    if (strings.sh_offset + offset >= image.size()) return std::string();
    return std::string(image.c_str() + strings.sh_offset + offset);
  };
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    const Elf64_Shdr shdr = section(i);
    if (shdr.sh_type == SHT_DYNAMIC) {
      const Elf64_Shdr strings = section(shdr.sh_link);
      for (std::size_t at = 0; at + sizeof(Elf64_Dyn) <= shdr.sh_size;
           at += sizeof(Elf64_Dyn)) {
        Elf64_Dyn entry;
        std::memcpy(&entry, image.data() + shdr.sh_offset + at, sizeof entry);
        if (entry.d_tag == DT_NULL) break;
        if (entry.d_tag == DT_NEEDED) {
          linking.needed.push_back(string_at(strings, entry.d_un.d_val));
        }
      }
    } else if (shdr.sh_type == SHT_DYNSYM) {
      const Elf64_Shdr strings = section(shdr.sh_link);
      for (std::size_t at = 0; at + sizeof(Elf64_Sym) <= shdr.sh_size;
           at += sizeof(Elf64_Sym)) {
        Elf64_Sym symbol;
        std::memcpy(&symbol, image.data() + shdr.sh_offset + at, sizeof symbol);
        linking.symbols.push_back({string_at(strings, symbol.st_name),
                                   ELF64_ST_BIND(symbol.st_info),
                                   ELF64_ST_TYPE(symbol.st_info),
                                   ELF64_ST_VISIBILITY(symbol.st_other),
                                   symbol.st_shndx != SHN_UNDEF});
      }
    }
  }
  return linking;
}

TEST(DigestLibraryFileTest, NeedsNoCryptoLibraryAndExportsItsFunctions) {
  const DynamicLinking linking = ReadDynamicLinking(kLibraryPath);
  for (const std::string& library : linking.needed) {
    EXPECT_EQ(library.find("libcrypto"), std::string::npos)
        << "korvik.DLL needs " << library;
    EXPECT_EQ(library.find("libssl"), std::string::npos)
        << "korvik.DLL needs " << library;
#ifndef KORVIK_SANITIZE_BUILD
    // Loading a C++ run-time library would cost every run, however small
    // its file.
    EXPECT_EQ(library.find("libstdc++"), std::string::npos)
        << "korvik.DLL needs " << library;
    EXPECT_EQ(library.find("libgcc_s"), std::string::npos)
        << "korvik.DLL needs " << library;
#endif
  }

  bool exports_md_file = false;
  for (const auto& symbol : linking.symbols) {
    if (!symbol.defined || symbol.binding == STB_LOCAL) continue;
    if (symbol.name == "MDFile") {
      exports_md_file = symbol.type == STT_FUNC &&
                        symbol.binding == STB_GLOBAL &&
                        symbol.visibility == STV_DEFAULT;
    }
    // The MD5 code linked in stays private, so that it never stands in for
    // the functions of another OpenSSL in the same process.
    EXPECT_FALSE(symbol.name.starts_with("MD5_") ||
                 symbol.name.starts_with("OPENSSL_") ||
                 symbol.name.starts_with("EVP_"))
        << "korvik.DLL exports " << symbol.name;
  }
  EXPECT_TRUE(exports_md_file)
      << "korvik.DLL exports no global function MDFile";
}

}  // namespace
}  // namespace korvik::cli
