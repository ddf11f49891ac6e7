// What a sealing run learned about a file, kept so that the rest of the run
// need not read the same, unchanged file again: that its lines already end
// in CR LF, and its digest where the library computed it alongside.
#pragma once

#include <optional>
#include <string>

#include "checksum/seal_lock.h"
#include "platform/file_system.h"

namespace korvik {

class CleanFileMemo {
 public:
  // Notes that the file, in the state `info` describes, follows the line
  // rules, and its digest where one was computed.
  void Remember(const EntryInfo& info, std::optional<std::string> digest) {
    last_ = info;
    digest_ = std::move(digest);
  }

  // Determines whether the file in the state `info` describes is the one
  // last remembered, unchanged since: same file, size and times.
  bool Holds(const EntryInfo& info) const {
    return last_ && SameState(*last_, info);
  }

  // Returns the digest of the file in the state `info` describes, where it
  // is known.
  std::optional<std::string> DigestOf(const EntryInfo& info) const {
    return Holds(info) ? digest_ : std::nullopt;
  }

 private:
  std::optional<EntryInfo> last_;
  std::optional<std::string> digest_;
};

}  // namespace korvik
