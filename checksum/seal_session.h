// One seal of one data file, from its rewrite through its digest to its
// trailer: the system's steps, sharing what the seal holds and learns.
#pragma once

#include <chrono>
#include <string>

#include "checksum/clean_file_memo.h"
#include "checksum/digest_route.h"
#include "checksum/operations.h"
#include "checksum/progress.h"
#include "checksum/rewrite.h"
#include "checksum/seal_lock.h"
#include "checksum/services.h"
#include "platform/result.h"

namespace korvik {

// How long a session holds the data file.
enum class SealHold {
  kToTheTrailer,   // a seal: from the rewrite through the digest to the
                   // trailer, so each step works on the file the checks saw
  kForTheRewrite,  // a hash alone: for each rewrite; the digest reads the
                   // file its name leads to
};

struct SealOptions {
  // Where given, hears how far each step is and may stop it.
  Progress* watcher = nullptr;
  SealHold hold = SealHold::kToTheTrailer;
  // How long the session waits for a lock that somebody else holds.
  std::chrono::milliseconds lock_wait = SealLock::kDefaultWait;
};

class SealSession {
 public:
  explicit SealSession(const Services& services, SealOptions options = {});
  SealSession(const SealSession&) = delete;
  SealSession& operator=(const SealSession&) = delete;
  ~SealSession() { End(); }

  const Services& services() const { return services_; }

  // Rewrites the data file by the line rules (see RewriteAsText). A file
  // this session found in order, unchanged since, is not read again.
  Expected<Rewritten> Rewrite(
      const std::string& file_name,
      RewriteStrategy strategy = RewriteStrategy::kMinimal);

  // Returns the MD5 digest of the data file as the last rewrite left it:
  // the digest made alongside that rewrite where the file is unchanged
  // since, else one read now. A held file that changes meanwhile fails.
  Expected<std::string> Digest(const std::string& file_name);

  // Writes `hash` after the last byte of the data file and flushes it. The
  // held file gets it through the session's own handle, and only in the
  // state it was digested in; any other file, one the session does not
  // hold, through its name, created where missing. A failed write is undone
  // so the file keeps its earlier length.
  Status AppendTrailer(const std::string& file_name, const std::string& hash);

  // Lets go of everything the session holds: the data file's handle and
  // lock, the folders its walk held, and what it learned. The steps afterwards
  // start afresh.
  void End();

 private:
  // Reads the data file for its digest: the held file, or else the one
  // `file_name` leads to.
  Expected<std::string> ReadDigest(const std::string& file_name);

  const Services& services_;
  const DigestRoute route_;
  const SealHold hold_;
  SealLock lock_;
  CleanFileMemo memo_;
};

}  // namespace korvik
