// What a run learned about a file's line ends, kept so that a second
// rewrite of the same, unchanged file in one run need not read it again.
#pragma once

#include <optional>

#include "platform/file_system.h"

namespace korvik {

class CleanFileMemo {
 public:
  // Notes that the file, in the state `info` describes, follows the line
  // rules.
  void Remember(const EntryInfo& info) { last_ = info; }

  // Determines whether the file in the state `info` describes is the one
  // last remembered, unchanged since: same file, size and times.
  bool Holds(const EntryInfo& info) const {
    return last_ && last_->id == info.id && last_->size == info.size &&
           last_->modified_ns == info.modified_ns &&
           last_->changed_ns == info.changed_ns;
  }

 private:
  std::optional<EntryInfo> last_;
};

}  // namespace korvik
