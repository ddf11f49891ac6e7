// The two sides of the interactive window: what the presenter asks of the
// window, and what the window passes on to the presenter. Neither needs Qt,
// so the presenter is tested without a display.
#pragma once

#include <functional>
#include <string>

namespace korvik {

enum class MessageIcon { kInformation, kWarning };

class WindowView {
 public:
  virtual ~WindowView() = default;

  virtual std::string FileNameText() = 0;
  virtual void SetFileNameText(const std::string& text) = 0;
  virtual void SetHashText(const std::string& text) = 0;
  // Shows the open-file dialog; returns the name it reports, the empty text
  // after a cancel.
  virtual std::string ShowOpenFileDialog() = 0;
  // Shows `text` in a message box with an OK button; returns once closed.
  virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
  // Runs `work`, which must not touch the view, and returns once it is
  // done; the window keeps painting meanwhile but takes no input.
  virtual void RunOperation(const std::function<void()>& work) = 0;
  virtual void CloseWindow() = 0;
};

// The window's buttons and drops, named after the buttons they come from.
class WindowCommands {
 public:
  virtual ~WindowCommands() = default;

  virtual void cmdOpen_Click() = 0;
  virtual void cmdHash_Click() = 0;
  virtual void cmdAppend_Click() = 0;
  virtual void cmdCheck_Click() = 0;
  virtual void cmdExit_Click() = 0;
  // A file dragged from the file manager and dropped on the window.
  virtual void FileDropped(const std::string& file_name) = 0;
};

}  // namespace korvik
