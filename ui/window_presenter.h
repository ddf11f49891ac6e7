// What the interactive window does when its buttons are pressed.
#pragma once

#include <functional>
#include <string>

#include "checksum/services.h"
#include "ui/operation_progress.h"
#include "ui/window_view.h"

namespace korvik {

class SealSession;

// What the window says after an operation was stopped.
inline constexpr char kStoppedMessage[] =
    "Operation Stopped. Nothing was Changed.";

class WindowPresenter final : public WindowCommands {
 public:
  using Now = std::function<OperationProgress::Clock::time_point()>;

  // `now` tells the time for the progress shown; the steady clock's unless
  // a test sets another.
  WindowPresenter(const Services& services, WindowView& view,
                  Now now = OperationProgress::Clock::now)
      : services_(services), view_(view), now_(std::move(now)) {}

  // Puts the chosen file's canonical name in the file name box.
  void cmdOpen_Click() override;
  // Shows the file's hash in the hash box.
  void cmdHash_Click() override;
  // Seals the file with its hash.
  void cmdAppend_Click() override;
  // Tells whether the file's seal matches its contents.
  void cmdCheck_Click() override;
  // Closes the window; during an operation, once it has stopped.
  void cmdExit_Click() override;
  // Takes the dropped file as if it had been chosen in the dialog.
  void FileDropped(const std::string& file_name) override;
  void StopOperation() override;
  // Shows how far the operation is, once it has run for half a second.
  void OperationTick() override;

 private:
  // Empties the hash box, then takes the name `choose` reports.
  void TakeFileName(const std::function<std::string()>& choose);
  // Runs `work` as an operation that this window's Progress watches, which
  // `verb` names. Returns false where it stopped or the window is closing:
  // EndStopped then says what follows.
  bool Run(CommandButton button, const char* verb,
           const std::function<void()>& work);
  // Closes the window where that was asked for during the operation, else
  // tells that it was stopped.
  void EndStopped();
  // Hashes the file named in the file name box, as an operation of
  // `session`. Returns false where it was stopped; sets `generated`
  // otherwise.
  bool GenerateFromFileNameBox(CommandButton button, const char* verb,
                               SealSession& session, bool& generated,
                               std::string& hash, std::string& message);

  const Services& services_;
  WindowView& view_;
  Now now_;
  OperationProgress progress_;
  bool running_ = false;
  bool close_pending_ = false;
};

}  // namespace korvik
