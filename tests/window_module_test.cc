// The batch program's side of interactive mode on Linux: it looks for a
// display, loads the window module from its own directory and tells on
// standard error what keeps the window from showing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/interactive_mode.h"
#include "tests/fake_platform.h"
#include "ui/interactive_mode.h"

namespace korvik {
namespace {

constexpr char kNoDisplay[] =
    "korvik: interactive mode needs a graphical display\n";

// What the stand-in entry was given, and what it answers.
int entry_calls = 0;
char** entry_argv = nullptr;
WindowOutcome entry_outcome = WindowOutcome::kOffered;

WindowOutcome Entry(int, char** argv) {
  ++entry_calls;
  entry_argv = argv;
  return entry_outcome;
}

// Offers the stand-in entry for the one function asked for, or fails.
class FakeLibraryLoader : public LibraryLoader {
 public:
  Expected<void*> LoadFunction(const std::string& library_path,
                               const char* name) override {
    requests.push_back(library_path + " " + name);
    if (failure) return *failure;
    return reinterpret_cast<void*>(&Entry);
  }
  Expected<std::string> SingleByteName(const std::string& path) override {
    return path;
  }
  Error ErrorOfCode(int code, std::string_view action,
                    std::string_view path) override {
    return Error::FromErrno(code, action, path);
  }

  std::vector<std::string> requests;
  std::optional<Error> failure;
};

class WindowModuleTest : public testing::Test {
 protected:
  WindowModuleTest() {
    for (const char* variable : kDisplayVariables) {
      const char* value = std::getenv(variable);
      saved_.push_back(value == nullptr ? std::nullopt
                                        : std::optional<std::string>(value));
      ::unsetenv(variable);
    }
    entry_calls = 0;
    entry_argv = nullptr;
    entry_outcome = WindowOutcome::kOffered;
  }
  ~WindowModuleTest() override {
    for (std::size_t i = 0; i < saved_.size(); ++i) {
      if (saved_[i]) ::setenv(kDisplayVariables[i], saved_[i]->c_str(), 1);
    }
  }

  void Offer() {
    MakeInteractiveMode(world_.process, libraries_, 1, argv_)->Offer();
  }

  static constexpr const char* kDisplayVariables[] = {
      "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  FakeWorld world_;
  FakeLibraryLoader libraries_;
  char program_[7] = "korvik";
  char* argv_[2] = {program_, nullptr};

 private:
  std::vector<std::optional<std::string>> saved_;
};

TEST_F(WindowModuleTest, WithoutADisplayLoadsNothing) {
  Offer();
  EXPECT_EQ(world_.process.errors, kNoDisplay);
  EXPECT_TRUE(libraries_.requests.empty());
}

TEST_F(WindowModuleTest, LoadsTheEntryFromTheProgramDirectory) {
  for (const char* variable : kDisplayVariables) {
    SCOPED_TRACE(variable);
    ::setenv(variable, ":0", 1);
    world_.process.errors.clear();
    libraries_.requests.clear();
    Offer();
    EXPECT_EQ(world_.process.errors, "");
    EXPECT_EQ(
        libraries_.requests,
        std::vector<std::string>{
            "/opt/korvik/korvik-window.so korvik_offer_interactive_mode"});
    EXPECT_EQ(entry_argv, argv_);
    ::unsetenv(variable);
  }
  EXPECT_EQ(entry_calls, 3);
}

TEST_F(WindowModuleTest, TellsWhatKeepsTheWindowFromShowing) {
  ::setenv("DISPLAY", ":0", 1);
  entry_outcome = WindowOutcome::kNoDisplay;
  Offer();
  EXPECT_EQ(world_.process.errors, kNoDisplay);

  world_.process.errors.clear();
  libraries_.failure = Error(ErrorKind::kOther, "no such module");
  Offer();
  EXPECT_EQ(world_.process.errors,
            "korvik: cannot load the window: no such module\n");
  EXPECT_EQ(entry_calls, 1);
}

}  // namespace
}  // namespace korvik
