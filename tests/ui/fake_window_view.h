// A window in memory for the presenter's tests: it runs each operation
// inline and records what it was asked to show.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
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
  void RunOperation(const std::function<void()>& work) override {
    Touch();
    running_ = true;
    work();
    running_ = false;
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

 private:
  // The real window's widgets belong to the UI thread; the operations run
  // on another one and must leave them alone.
  void Touch() const {
    EXPECT_FALSE(running_) << "an operation touched the window";
  }

  bool running_ = false;
};

}  // namespace korvik
