#include "app/batch_run.h"

#include <optional>

#include "app/command_line.h"
#include "app/run_log.h"
#include "checksum/entries.h"
#include "checksum/operations.h"
#include "checksum/seal_session.h"

namespace korvik {
namespace {

const std::string kRule(80, '-');

// The state of one batch run, from the first step to the written log.
class BatchRun {
 public:
  explicit BatchRun(const BatchServices& services)
      : services_(services), files_(services.checksum.files) {}

  Status Run(const std::string& command_text);

 private:
  // Runs the steps up to the choice of operation. Returns true when the
  // program ends without a run log (interactive mode), or the caught error.
  Expected<bool> Dispatch(const std::string& command_text);
  Status DeleteOldMarker();
  Expected<bool> AppendChecksum();
  void VerifyChecksum();
  std::string Stamp(std::string_view prefix);

  const BatchServices& services_;
  FileSystem& files_;
  RunLog log_;
  std::string file_name_;
  std::string hash_;
  std::string message_;
  bool success_ = false;
};

Status BatchRun::Run(const std::string& command_text) {
  auto dispatched = Dispatch(command_text);
  if (dispatched.ok() && *dispatched) return Status::Ok();
  const bool caught = !dispatched.ok();
  if (caught)
    log_.AddLine("Unexpected Error : " + dispatched.error().description());

  log_.AddLine(success_ ? "Result : Successful." : "Result : Failed!");
  log_.AddLine(message_.empty() ? "" : "Message : " + message_);
  log_.AddLine(Stamp("Korvik Checksum Utility : Ended : "));
  log_.AddLine(kRule);

  if (Status logged = WriteLogText(files_, log_.text(), kLogFileName);
      !logged.ok()) {
    return logged;
  }
  if (caught || !success_) {
    return WriteLogText(files_, log_.text(), kMarkerFileName);
  }
  return Status::Ok();
}

Expected<bool> BatchRun::Dispatch(const std::string& command_text) {
  if (Status deleted = DeleteOldMarker(); !deleted.ok()) return deleted;
  if (command_text.empty()) {
    services_.interactive.Offer();
    return true;
  }
  log_.AddLine("");
  log_.AddLine(kRule);
  log_.AddLine(Stamp("Korvik Checksum Utility : Started : "));
  log_.AddLine("Command Line Arguments : " + command_text);

  const std::string trimmed = TrimBlanks(command_text);
  if (trimmed.size() < 4) {
    log_.AddLine("Invalid Command Line Arguments : " + command_text);
  }
  auto command = DecodeCommand(trimmed);
  if (!command.ok()) return command.error();
  file_name_ = command->file_name;

  std::string switch_text = command->switch_text;
  for (char& c : switch_text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (switch_text == "-A" || switch_text == "-G") return AppendChecksum();
  if (switch_text == "-V") {
    VerifyChecksum();
    return false;
  }
  log_.AddLine("Invalid Command Line Arguments !");
  return false;
}

Status BatchRun::DeleteOldMarker() {
  // The name the marker is deleted under and the name it is written under:
  // one file where letter case does not count, and on other file systems
  // the only names the program itself ever gives it.
  for (const char* marker : {kOldMarkerFileName, kMarkerFileName}) {
    // A name the existence test cannot look at is one it does not find.
    auto ordinary = IsOrdinaryFile(files_, marker);
    if (!ordinary.ok() || !*ordinary) continue;
    // Another run starting at the same moment may have deleted it first.
    Status removed = files_.Remove(marker);
    if (!removed.ok() && removed.error().kind() != ErrorKind::kNotFound) {
      return removed;
    }
  }
  return Status::Ok();
}

Expected<bool> BatchRun::AppendChecksum() {
  // The data file stays locked from the rewrite to the trailer.
  SealSession seal(services_.checksum);
  auto rewritten = seal.Rewrite(file_name_);
  if (!rewritten.ok()) return rewritten.error();
  if (!rewritten->done()) {
    log_.AddLine("Result : Error Occured while trying to open the file :" +
                 file_name_);
  }
  log_.AddLine("Operation : Append Checksum.");
  if (GenerateHash(seal, file_name_, hash_, message_) &&
      AppendHash(seal, file_name_, hash_, message_)) {
    success_ = true;
  }
  return false;
}

void BatchRun::VerifyChecksum() {
  log_.AddLine("Operation : Verify Checksum.");
  const VerificationResult result =
      VerifyHash(services_.checksum, file_name_, message_);
  success_ = result != VerificationResult::kNotChecked;
}

std::string BatchRun::Stamp(std::string_view prefix) {
  Locale& locale = services_.checksum.locale;
  const std::tm date = services_.clock.Now();
  const std::tm time = services_.clock.Now();
  std::string stamp(prefix);
  stamp += FormatLogDate(date, locale.DateSeparator());
  stamp += " , ";
  stamp += locale.FormatTime(time);
  return stamp;
}

}  // namespace

Status Main(const BatchServices& services, const std::string& command_text) {
  return BatchRun(services).Run(command_text);
}

}  // namespace korvik
