// What the interactive window does when its buttons are pressed.
#pragma once

#include <functional>
#include <string>

#include "checksum/services.h"
#include "ui/window_view.h"

namespace korvik {

class WindowPresenter final : public WindowCommands {
 public:
  WindowPresenter(const Services& services, WindowView& view)
      : services_(services), view_(view) {}

  // Puts the chosen file's canonical name in the file name box.
  void cmdOpen_Click() override;
  // Shows the file's hash in the hash box.
  void cmdHash_Click() override;
  // Seals the file with its hash.
  void cmdAppend_Click() override;
  // Tells whether the file's seal matches its contents.
  void cmdCheck_Click() override;
  void cmdExit_Click() override;
  // Takes the dropped file as if it had been chosen in the dialog.
  void FileDropped(const std::string& file_name) override;

 private:
  // Empties the hash box, then takes the name `choose` reports.
  void TakeFileName(const std::function<std::string()>& choose);
  // Hashes the file named in the file name box, as an operation.
  bool GenerateFromFileNameBox(const Services& services, std::string& hash,
                               std::string& message);

  const Services& services_;
  WindowView& view_;
};

}  // namespace korvik
