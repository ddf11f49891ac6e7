#include "ui/window_presenter.h"

#include "checksum/operations.h"
#include "checksum/seal_session.h"
#include "ui/program_title.h"

namespace korvik {
namespace {

constexpr char kHashing[] = "Generating Hash";
constexpr char kSealing[] = "Appending Hash";
constexpr char kVerifying[] = "Verifying";
// Between the window's title and how far the operation is.
constexpr char kProgressSeparator[] = " \u2014 ";

}  // namespace

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

bool WindowPresenter::Run(CommandButton button, const char* verb,
                          const std::function<void()>& work) {
  progress_.Begin(verb, now_());
  running_ = true;
  view_.RunOperation(button, work);
  running_ = false;
  view_.ShowProgress(kWindowCaption, std::nullopt);
  return !close_pending_ && !progress_.stopped();
}

void WindowPresenter::EndStopped() {
  if (close_pending_) {
    view_.CloseWindow();
  } else {
    view_.ShowMessage(kStoppedMessage, MessageIcon::kInformation);
  }
}

bool WindowPresenter::GenerateFromFileNameBox(
    CommandButton button, const char* verb, SealSession& session,
    bool& generated, std::string& hash, std::string& message) {
  std::string file_name = view_.FileNameText();
  return Run(button, verb, [&] {
    generated = GenerateHash(session, file_name, hash, message);
  });
}

void WindowPresenter::cmdHash_Click() {
  std::string hash;
  std::string message;
  bool generated = false;
  // A rewrite's digest is kept, so that a stop after it need not read the
  // rewritten file again.
  SealSession hashing(
      services_, {.watcher = &progress_, .hold = SealHold::kForTheRewrite});
  if (!GenerateFromFileNameBox(CommandButton::kHash, kHashing, hashing,
                               generated, hash, message)) {
    return EndStopped();
  }
  if (generated) {
    view_.SetHashText(hash);
  } else {
    view_.ShowMessage(message, MessageIcon::kWarning);
  }
}

void WindowPresenter::cmdAppend_Click() {
  std::string hash;
  std::string message;
  bool generated = false;
  // The data file stays locked from the rewrite to the trailer, and the
  // rewrite's digest is kept, as in cmdHash_Click.
  SealSession seal(services_, {.watcher = &progress_});
  bool finished = GenerateFromFileNameBox(CommandButton::kAppend, kSealing,
                                          seal, generated, hash, message);
  if (finished && generated) {
    // The hash goes to the name as it stands in the box, not to the
    // canonical name it was generated for.
    const std::string typed = view_.FileNameText();
    finished = Run(CommandButton::kAppend, kSealing,
                   [&] { (void)AppendHash(seal, typed, hash, message); });
  }
  seal.End();  // not held while the message waits for its reader
  if (!finished) return EndStopped();
  view_.ShowMessage(message, MessageIcon::kInformation);
}

void WindowPresenter::cmdCheck_Click() {
  const std::string file_name = view_.FileNameText();
  std::string message;
  if (!Run(CommandButton::kCheck, kVerifying,
           [&] { VerifyHash(services_, file_name, message, &progress_); })) {
    return EndStopped();
  }
  view_.ShowMessage(message, MessageIcon::kWarning);
}

void WindowPresenter::cmdExit_Click() {
  if (!running_) return view_.CloseWindow();
  close_pending_ = true;
  progress_.RequestStop();
}

void WindowPresenter::StopOperation() {
  if (running_) progress_.RequestStop();
}

void WindowPresenter::OperationTick() {
  if (!running_) return;
  const std::optional<OperationProgress::Shown> shown =
      progress_.ShownAt(now_());
  if (!shown) return;
  view_.ShowProgress(
      std::string(kWindowCaption) + kProgressSeparator + shown->caption,
      shown->percent);
}

}  // namespace korvik
