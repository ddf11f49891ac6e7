// A window in memory for the presenter's tests: it runs each operation
// inline, or beside a stand-in for its timer, and records what it was asked
// to show.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "ui/window_view.h"

namespace korvik {

struct ShownMessage {
  std::string text;
  MessageIcon icon;
  bool operator==(const ShownMessage&) const = default;
};

inline void PrintTo(const ShownMessage& message, std::ostream* out) {
  *out << '"' << message.text << "\" with the "
       << (message.icon == MessageIcon::kWarning ? "warning" : "information")
       << " icon";
}

class FakeWindowView : public WindowView {
 public:
  std::string FileNameText() override {
    Touch();
    return file_name_box;
  }
  void SetFileNameText(const std::string& text) override {
    Touch();
    file_name_box = text;
  }
  void SetHashText(const std::string& text) override {
    Touch();
    hash_box = text;
  }
  std::string ShowOpenFileDialog() override {
    Touch();
    ++dialogs_shown;
    return dialog_answer;
  }
  void ShowMessage(const std::string& text, MessageIcon icon) override {
    Touch();
    messages.push_back({text, icon});
  }
  void RunOperation(CommandButton started_by,
                    const std::function<void()>& work) override {
    Touch();
    stop_buttons.push_back(started_by);
    running_ = true;
    if (during_operation) {
      // As the real window does: the work on a thread of its own, the
      // window's ticks and input on this one.
      std::atomic<bool> done = false;
      std::thread worker([&] {
        work();
        done = true;
      });
      while (!done) {
        during_operation();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      worker.join();
    } else {
      work();
    }
    running_ = false;
  }
  void ShowProgress(const std::string& caption,
                    std::optional<int> percent) override {
    captions.push_back(caption);
    percents.push_back(percent);
  }
  void CloseWindow() override {
    Touch();
    ++closes;
  }

  // Whether an operation is running now.
  bool running() const { return running_; }

  std::string file_name_box;
  std::string hash_box;
  std::string dialog_answer;  // what the dialog reports; "" is a cancel
  int dialogs_shown = 0;
  int closes = 0;
  std::vector<ShownMessage> messages;
  // The buttons that read "Stop" during each operation, and the progress
  // shown, in turn.
  std::vector<CommandButton> stop_buttons;
  std::vector<std::string> captions;
  std::vector<std::optional<int>> percents;
  // Where set, runs each operation on a thread and calls this on the
  // window's thread until it is done, about every millisecond: the test's
  // stand-in for the window's timer and its user.
  std::function<void()> during_operation;

 private:
  // The real window's widgets belong to the UI thread; the operations run
  // on another one and must leave them alone.
  void Touch() const {
    EXPECT_FALSE(running_) << "an operation touched the window";
  }

  bool running_ = false;
};

}  // namespace korvik
