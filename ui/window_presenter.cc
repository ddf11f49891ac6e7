#include "ui/window_presenter.h"

#include "checksum/operations.h"
#include "checksum/seal_lock.h"

namespace korvik {

void WindowPresenter::cmdOpen_Click() {
  TakeFileName([this] { return view_.ShowOpenFileDialog(); });
}

void WindowPresenter::FileDropped(const std::string& file_name) {
  TakeFileName([&file_name] { return file_name; });
}

void WindowPresenter::TakeFileName(const std::function<std::string()>& choose) {
  view_.SetHashText("");
  std::string chosen = choose();
  view_.SetFileNameText(NormalizePath(services_, chosen));
  // After every choice the program works in its own directory, where the
  // rewrite puts its work file; a failure to change keeps the current one.
  (void)services_.process.SetCurrentDirectory(
      services_.process.ProgramDirectory());
}

bool WindowPresenter::GenerateFromFileNameBox(const Services& services,
                                              std::string& hash,
                                              std::string& message) {
  std::string file_name = view_.FileNameText();
  bool generated = false;
  view_.RunOperation(
      [&] { generated = GenerateHash(services, file_name, hash, message); });
  return generated;
}

void WindowPresenter::cmdHash_Click() {
  std::string hash;
  std::string message;
  if (GenerateFromFileNameBox(services_, hash, message)) {
    view_.SetHashText(hash);
  } else {
    view_.ShowMessage(message, MessageIcon::kWarning);
  }
}

void WindowPresenter::cmdAppend_Click() {
  std::string hash;
  std::string message;
  // The data file stays locked from the rewrite to the trailer.
  Services sealing = services_;
  SealLock seal(sealing.files);
  sealing.seal = &seal;
  if (GenerateFromFileNameBox(sealing, hash, message)) {
    // The hash goes to the name as it stands in the box, not to the
    // canonical name it was generated for.
    const std::string typed = view_.FileNameText();
    view_.RunOperation(
        [&] { (void)AppendHash(sealing, typed, hash, message); });
  }
  seal.Release();  // not held while the message waits for its reader
  view_.ShowMessage(message, MessageIcon::kInformation);
}

void WindowPresenter::cmdCheck_Click() {
  const std::string file_name = view_.FileNameText();
  std::string message;
  view_.RunOperation([&] { VerifyHash(services_, file_name, message); });
  view_.ShowMessage(message, MessageIcon::kWarning);
}

void WindowPresenter::cmdExit_Click() { view_.CloseWindow(); }

}  // namespace korvik
