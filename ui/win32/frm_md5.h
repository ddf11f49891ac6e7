// The interactive window on Windows: a plain Win32 window with the classic
// controls. It only shows what it is told and passes its clicks and drops
// on to the WindowCommands; every decision lies there.
#pragma once

#include <windows.h>

#include <string>

#include "ui/win32/taskbar_progress.h"
#include "ui/window_view.h"

namespace korvik::win32 {

class frmMD5 final : public WindowView {
 public:
  // Creates the window, hidden, centred on the screen.
  frmMD5();
  ~frmMD5() override;
  frmMD5(const frmMD5&) = delete;
  frmMD5& operator=(const frmMD5&) = delete;

  // Sends every click, drop and the close box to `commands`; call once.
  void ForwardTo(WindowCommands& commands) { commands_ = &commands; }
  // Shows the window and handles its messages until it has been closed.
  void ShowModal();
  // Handles the messages already queued, as ShowModal's loop would.
  void HandlePendingMessages();

  HWND handle() const { return window_; }
  bool closed() const { return window_ == nullptr; }

  std::string FileNameText() override;
  void SetFileNameText(const std::string& text) override;
  void SetHashText(const std::string& text) override;
  std::string ShowOpenFileDialog() override;
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  void RunOperation(CommandButton started_by,
                    const std::function<void()>& work) override;
  void ShowProgress(const std::string& caption,
                    std::optional<int> percent) override;
  void CloseWindow() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  // Handles one message the way a dialog does: Tab, access keys.
  void Dispatch(MSG& message);
  // Places every control and makes the fonts for `dpi`.
  void Layout(UINT dpi);
  void Command(int id);
  // Determines whether `message`, arriving during an operation, is input
  // the window still takes; Esc is passed on here.
  bool TakesDuringOperation(const MSG& message);
  void Dropped(HDROP drop);

  HWND window_ = nullptr;
  WindowCommands* commands_ = nullptr;
  // The control that had the focus when the window was last active.
  HWND focus_ = nullptr;
  HFONT font_ = nullptr;
  HFONT open_font_ = nullptr;
  bool busy_ = false;
  bool busy_cursor_ = false;
  // The button that reads "Stop" during the operation, and whether the
  // operation's work is done.
  int stop_button_ = 0;
  bool operation_done_ = false;
  TaskbarProgress taskbar_;
};

}  // namespace korvik::win32
