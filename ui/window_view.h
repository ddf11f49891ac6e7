// The two sides of the interactive window: what the presenter asks of the
// window, and what the window passes on to the presenter. Neither needs Qt,
// so the presenter is tested without a display.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace korvik {

enum class MessageIcon { kInformation, kWarning };

// The buttons that start an operation.
enum class CommandButton { kHash, kAppend, kCheck };

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
  // done. Meanwhile the window keeps painting and calls OperationTick about
  // ten times a second; `started_by` reads "Stop", and it, Esc and the
  // close box are passed on as StopOperation, StopOperation and
  // cmdExit_Click. All other input is dropped.
  virtual void RunOperation(CommandButton started_by,
                            const std::function<void()>& work) = 0;
  // Shows `caption` as the window's title and, where the system has a
  // place for it, `percent` on the program's taskbar button; none clears it.
  virtual void ShowProgress(const std::string& caption,
                            std::optional<int> percent) = 0;
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
  // Esc, or the button of the operation under way, while it runs.
  virtual void StopOperation() = 0;
  // The window's timer while an operation runs.
  virtual void OperationTick() = 0;
};

}  // namespace korvik
