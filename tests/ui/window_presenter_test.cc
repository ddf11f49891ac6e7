// The window's commands on real files, with the built digest library and a
// window in memory.
#include "ui/window_presenter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "checksum/digest_library.h"
#include "platform/system.h"
#include "tests/ui/fake_window_view.h"

namespace korvik {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr char kSeparator = '\\';
// Windows drops blanks at the end of a name: "data.txt  " is data.txt.
constexpr bool kBlanksEndNames = true;
#else
constexpr char kSeparator = '/';
constexpr bool kBlanksEndNames = false;
#endif

// The build's program directory, as the system under test names it: Wine
// shows the Unix root as drive Z:.
std::string BuiltProgramDirectory() {
  std::string path = KORVIK_PROGRAM_DIR;
  if (kSeparator == '\\') {
    std::replace(path.begin(), path.end(), '/', kSeparator);
    path.insert(0, "Z:");
  }
  return path;
}

// The canonical name of an existing local file: on Windows in upper case.
std::string Canonical(std::string path) {
  if (kSeparator == '\\') {
    for (char& c : path) c = static_cast<char>(std::toupper(c));
  }
  return path;
}

constexpr char kInvalidName[] = "Invalid/Missing File Name!";
// A text file whose lines end in a lone CR, CR LF and nothing, and the
// digest of its rewritten form, all in CR LF.
constexpr char kText[] = "first line\rsecond line\r\nthird line, the last one";
constexpr char kTextAsCrLf[] =
    "first line\r\nsecond line\r\nthird line, the last one\r\n";
constexpr char kTextHash[] = "181d2114c6f52ba7333ecd2ecb6684c0";

// The running system, except that the program lives in the build's program
// directory and the current directory stays the test's scratch folder:
// changing it is only recorded.
class TestProcess : public Process {
 public:
  TestProcess(Process& system, std::string current_directory,
              const FakeWindowView& view)
      : system_(system),
        current_directory_(std::move(current_directory)),
        view_(view) {}

  std::string CommandText() override { return ""; }
  void WriteError(const std::string& line) override { ADD_FAILURE() << line; }
  std::string ProgramDirectory() override { return program_directory; }
  Expected<std::string> CurrentDirectory() override {
    ExpectOperation();
    return current_directory_;
  }
  Status SetCurrentDirectory(const std::string& path) override {
    changed_to = path;
    return Status::Ok();
  }
  std::string TempDirectory() override {
    ExpectOperation();
    return system_.TempDirectory();
  }

  std::string program_directory = BuiltProgramDirectory();
  std::string changed_to;  // the last directory made current

 private:
  // Only the checksum work asks for these, and it must run as the window's
  // operation, off the window's thread.
  void ExpectOperation() const {
    EXPECT_TRUE(view_.running()) << "checksum work outside an operation";
  }

  Process& system_;
  std::string current_directory_;
  const FakeWindowView& view_;
};

std::string MakeScratchDirectory() {
  const fs::path path = fs::temp_directory_path() /
                        ("korvik-ui-" + std::to_string(std::random_device()()));
  fs::create_directory(path);
  return path.string();
}

class WindowPresenterTest : public testing::Test {
 protected:
  ~WindowPresenterTest() override {
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
  }

  // Writes `content` to the scratch file `name`; returns its path.
  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = scratch_ + kSeparator + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  // Returns `path` with two blanks after it. Where blanks may end a name,
  // that is an empty file of its own.
  std::string BlankEnded(const std::string& path) {
    const std::string blank_ended = path + "  ";
    if (!kBlanksEndNames) std::ofstream(blank_ended, std::ios::binary);
    return blank_ended;
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  bool ScratchIsEmpty() const { return fs::is_empty(scratch_); }

  std::string scratch_ = MakeScratchDirectory();
  FakeWindowView view_;
  std::unique_ptr<Platform> system_ = MakePlatform(0, nullptr);
  TestProcess process_{system_->process(), scratch_, view_};
  LoadedDigestLibrary digest_{system_->libraries(),
                              DigestLibraryPath(process_)};
  const Services services_{system_->files(), process_, system_->drives(),
                           system_->locale(), digest_};
  // Each look at the clock finds it 100 ms on.
  std::atomic<std::int64_t> milliseconds_{0};
  WindowPresenter presenter_{
      services_, view_, [this] {
        return OperationProgress::Clock::time_point(
            std::chrono::milliseconds(milliseconds_ += 100));
      }};
};

using UnusableNameTest = WindowPresenterTest;

TEST_F(UnusableNameTest, GenerateWarnsAndKeepsTheHashBox) {
  view_.hash_box = "earlier hash";
  presenter_.cmdHash_Click();
  EXPECT_EQ(view_.messages,
            (std::vector<ShownMessage>{{kInvalidName, MessageIcon::kWarning}}));
  EXPECT_EQ(view_.hash_box, "earlier hash");
}

TEST_F(UnusableNameTest, AppendInformsAndWritesNothing) {
  view_.hash_box = "earlier hash";
  presenter_.cmdAppend_Click();
  view_.file_name_box = scratch_ + kSeparator + "missing.txt";
  presenter_.cmdAppend_Click();
  const ShownMessage expected{kInvalidName, MessageIcon::kInformation};
  EXPECT_EQ(view_.messages, (std::vector<ShownMessage>{expected, expected}));
  EXPECT_EQ(view_.hash_box, "earlier hash");
  EXPECT_TRUE(ScratchIsEmpty());
}

TEST_F(UnusableNameTest, VerifyWarns) {
  presenter_.cmdCheck_Click();
  EXPECT_EQ(view_.messages,
            (std::vector<ShownMessage>{{kInvalidName, MessageIcon::kWarning}}));
}

TEST_F(UnusableNameTest, GenerateWithoutTheDigestLibraryWarns) {
  process_.program_directory = scratch_;
  view_.file_name_box = Write("data.txt", kText);
  view_.hash_box = "earlier hash";
  presenter_.cmdHash_Click();
  EXPECT_EQ(view_.messages,
            (std::vector<ShownMessage>{
                {" Unexpected Error :  Checksum Library file korvik.DLL is "
                 "missing.",
                 MessageIcon::kWarning}}));
  EXPECT_EQ(view_.hash_box, "earlier hash");
}

using ChoosingAFileTest = WindowPresenterTest;

TEST_F(ChoosingAFileTest, CancelledDialogEmptiesBothBoxes) {
  view_.file_name_box = "/earlier/name";
  view_.hash_box = "earlier hash";
  presenter_.cmdOpen_Click();
  EXPECT_EQ(view_.dialogs_shown, 1);
  EXPECT_EQ(view_.file_name_box, "");
  EXPECT_EQ(view_.hash_box, "");
  EXPECT_EQ(process_.changed_to, BuiltProgramDirectory());
}

TEST_F(ChoosingAFileTest, ChosenFileTakesItsCanonicalName) {
  // Blanks after the name go once the entry is found.
  const std::string path = Write("data.txt", kText);
  view_.dialog_answer = BlankEnded(path);
  view_.hash_box = "earlier hash";
  presenter_.cmdOpen_Click();
  EXPECT_EQ(view_.file_name_box, Canonical(path));
  EXPECT_EQ(view_.hash_box, "");
  EXPECT_EQ(process_.changed_to, BuiltProgramDirectory());
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(ChoosingAFileTest, DropActsLikeTheDialog) {
  const std::string path = Write("data.txt", kText);
  view_.hash_box = "earlier hash";
  presenter_.FileDropped(path);
  EXPECT_EQ(view_.file_name_box, Canonical(path));
  EXPECT_EQ(view_.hash_box, "");
  EXPECT_EQ(process_.changed_to, BuiltProgramDirectory());

  process_.changed_to.clear();
  view_.hash_box = "earlier hash";
  presenter_.FileDropped(scratch_ + kSeparator + ".hidden");
  EXPECT_EQ(view_.file_name_box, "");
  EXPECT_EQ(view_.hash_box, "");
  EXPECT_EQ(process_.changed_to, BuiltProgramDirectory());
  EXPECT_EQ(view_.dialogs_shown, 0);
}

using SealingTest = WindowPresenterTest;

TEST_F(SealingTest, GenerateVerifyAppendVerify) {
  const std::string path = Write("data.txt", kText);
  view_.file_name_box = path;

  presenter_.cmdHash_Click();
  EXPECT_EQ(view_.hash_box, kTextHash);
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(Read(path), kTextAsCrLf);

  presenter_.cmdCheck_Click();
  view_.hash_box = "kept";
  presenter_.cmdAppend_Click();
  presenter_.cmdCheck_Click();
  EXPECT_EQ(
      view_.messages,
      (std::vector<ShownMessage>{
          {"Checksum Does Not Match File Contents", MessageIcon::kWarning},
          {"Hash Appended successfully to : " + path,
           MessageIcon::kInformation},
          {"Checksum Matches File Contents.", MessageIcon::kWarning}}));
  EXPECT_EQ(Read(path), std::string(kTextAsCrLf) + kTextHash);
  EXPECT_EQ(view_.hash_box, "kept");
}

TEST_F(SealingTest, AppendWritesToTheNameAsTyped) {
  // The hash is generated for the canonical name, without the blanks, but
  // appended to the name exactly as it stands in the box.
  const std::string path = Write("data.txt", kText);
  const std::string typed = BlankEnded(path);
  view_.file_name_box = typed;
  presenter_.cmdAppend_Click();
  EXPECT_EQ(
      view_.messages,
      (std::vector<ShownMessage>{{"Hash Appended successfully to : " + typed,
                                  MessageIcon::kInformation}}));
  if (kBlanksEndNames) {
    // Both names name the one file.
    EXPECT_EQ(Read(path), std::string(kTextAsCrLf) + kTextHash);
  } else {
    EXPECT_EQ(Read(typed), kTextHash);
    EXPECT_EQ(Read(path), kTextAsCrLf);
  }
}

TEST_F(SealingTest, LastLineEndIsAddedWithTheHashOfTheWholeFile) {
  // The window digests what the file will hold before the two bytes go in.
  const std::string path = Write("data.txt", "first line\r\nlast line");
  view_.file_name_box = path;
  presenter_.cmdAppend_Click();
  EXPECT_EQ(Read(path),
            "first line\r\nlast line\r\ndba2d4a9700d0c367d5f7b208f6ea168");
  presenter_.cmdCheck_Click();
  EXPECT_EQ(
      view_.messages.back(),
      (ShownMessage{"Checksum Matches File Contents.", MessageIcon::kWarning}));
}

TEST_F(WindowPresenterTest, ExitClosesTheWindow) {
  presenter_.cmdExit_Click();
  EXPECT_EQ(view_.closes, 1);
  EXPECT_TRUE(view_.messages.empty());
}

// Operations long enough to watch and to stop: the window's stand-in timer
// ticks about every millisecond, while each tick finds the clock 100 ms on.
class StoppingTest : public WindowPresenterTest {
 protected:
  // Makes a sparse file of `size` zero bytes; returns its path.
  std::string MakeSparse(const std::string& name, std::uintmax_t size) {
    const std::string path = Write(name, "");
    fs::resize_file(path, size);
    return path;
  }

  // Runs each operation beside ticks that press `user` once progress shows.
  void OnceProgressShows(const std::function<void()>& user) {
    view_.during_operation = [this, user, pressed = false]() mutable {
      presenter_.OperationTick();
      if (!pressed && !view_.captions.empty()) {
        pressed = true;
        user();
      }
    };
  }

  std::vector<std::string> ScratchNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(scratch_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }
};

constexpr std::uintmax_t kLarge = std::uintmax_t{256} << 20;
constexpr char kTitle[] = "Korvik Checksum Generation Utility";

TEST_F(StoppingTest, VerifyShowsProgressThenStopsChangingNothing) {
  view_.file_name_box = MakeSparse("large.bin", kLarge);
  OnceProgressShows([this] { presenter_.StopOperation(); });
  presenter_.cmdCheck_Click();

  ASSERT_GE(view_.captions.size(), 2u);
  EXPECT_TRUE(view_.captions.front().starts_with(std::string(kTitle) +
                                                 " \u2014 Verifying "))
      << view_.captions.front();
  EXPECT_TRUE(view_.captions.front().find(" %") != std::string::npos);
  EXPECT_TRUE(view_.percents.front().has_value());
  // Back to the plain title, the taskbar button cleared.
  EXPECT_EQ(view_.captions.back(), kTitle);
  EXPECT_EQ(view_.percents.back(), std::nullopt);
  EXPECT_EQ(view_.stop_buttons, std::vector{CommandButton::kCheck});
  EXPECT_EQ(view_.messages, (std::vector<ShownMessage>{
                                {kStoppedMessage, MessageIcon::kInformation}}));
  EXPECT_EQ(ScratchNames(), std::vector<std::string>{"large.bin"});
  EXPECT_EQ(fs::file_size(view_.file_name_box), kLarge);
}

TEST_F(StoppingTest, SealStoppedMidRewriteKeepsTheOriginalBytes) {
  // Lines that end in a lone CR: the whole file must be rewritten.
  std::string lines;
  for (int i = 0; i < (1 << 20); ++i) lines += "a line of text ending in CR\r";
  const std::string path = Write("lines.txt", lines);
  view_.file_name_box = path;
  OnceProgressShows([this] { presenter_.StopOperation(); });
  presenter_.cmdAppend_Click();

  EXPECT_EQ(view_.stop_buttons, std::vector{CommandButton::kAppend});
  EXPECT_EQ(view_.messages, (std::vector<ShownMessage>{
                                {kStoppedMessage, MessageIcon::kInformation}}));
  EXPECT_EQ(ScratchNames(), std::vector<std::string>{"lines.txt"});
  EXPECT_TRUE(Read(path) == lines) << "the data file changed";
}

TEST_F(StoppingTest, CloseBoxDuringWorkStopsThenCloses) {
  view_.file_name_box = MakeSparse("large.bin", kLarge);
  OnceProgressShows([this] { presenter_.cmdExit_Click(); });
  presenter_.cmdHash_Click();

  EXPECT_EQ(view_.closes, 1);
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(view_.hash_box, "");
  EXPECT_EQ(ScratchNames(), std::vector<std::string>{"large.bin"});
  EXPECT_EQ(fs::file_size(view_.file_name_box), kLarge);
}

TEST_F(StoppingTest, StopAfterTheWorkChangesNothingOfItsOutcome) {
  // The user's stop comes too late: the operation ended without asking.
  view_.file_name_box = Write("data.txt", kText);
  presenter_.cmdHash_Click();
  presenter_.StopOperation();
  EXPECT_EQ(view_.hash_box, kTextHash);
  EXPECT_TRUE(view_.messages.empty());
}

}  // namespace
}  // namespace korvik
