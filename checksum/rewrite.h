// The rewrite by the line rules, as a step of a seal or a hash.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "checksum/clean_file_memo.h"
#include "checksum/digest_route.h"
#include "checksum/operations.h"
#include "checksum/seal_lock.h"
#include "checksum/services.h"
#include "platform/result.h"

namespace korvik {

// What a rewrite made of the data file: done, as it now follows the line
// rules, or refused: left as it was, because it cannot or may not be
// rewritten, with the Error that says what was refused. A failure of the
// system on the way is no refusal; the step returns its Error instead.
class Rewritten {
 public:
  static Rewritten Done() { return Rewritten(std::nullopt); }
  static Rewritten Refused(Error why) { return Rewritten(std::move(why)); }

  bool done() const { return !refusal_.has_value(); }
  const Error& refusal() const { return *refusal_; }

 private:
  explicit Rewritten(std::optional<Error> refusal)
      : refusal_(std::move(refusal)) {}

  std::optional<Error> refusal_;
};

// Rewrites the data file `file_name` names so that every line ends in CR
// LF. Takes the file into `lock`, where it holds no other, and leaves it
// there; skips a file that `memo` holds in order and unchanged since, and
// remembers there what it leaves in order, with the digest `route` made
// alongside where it made one.
Expected<Rewritten> RewriteHeldFile(const Services& services,
                                    const DigestRoute& route, SealLock& lock,
                                    CleanFileMemo& memo,
                                    const std::string& file_name,
                                    RewriteStrategy strategy);

}  // namespace korvik
