// The checksum operations that the batch run and the window share, with the
// system's own signatures: each one catches its own failures and reports
// them through its result and, where it has one, its message; none throws.
// They are the edge over the steps, which return an Error for each failure
// and refusal. A seal's steps share one SealSession; an operation given
// none works in one of its own.
#pragma once

#include <cstdint>
#include <string>

#include "checksum/services.h"
#include "platform/result.h"

namespace korvik {

class Progress;
class SealSession;

// The outcome of VerifyHash.
enum class VerificationResult : std::int16_t {
  kMismatch = 0,    // the digest of the body differs from the trailer
  kMatch = 1,       // the digest of the body equals the trailer
  kNotChecked = 2,  // no verdict: bad name, no library, no hash, a failure
};

// Checks a sealed file: compares its last 32 bytes with the MD5 digest of
// all bytes before them. Sets `message` on every path. The data file is only
// read; the body is copied to a work file named after it plus "~@~" (in the
// temporary directory where the file's own directory refuses it).
// `watcher`, where given, hears how far it is and may stop it.
VerificationResult VerifyHash(const Services& services,
                              const std::string& file_name,
                              std::string& message,
                              Progress* watcher = nullptr);

// Writes `hash` after the last byte of the file, creating a missing file.
// Returns false without touching anything, `message` included, when the hash
// or the name is empty; sets `message` otherwise.
bool AppendHash(const Services& services, const std::string& file_name,
                const std::string& hash, std::string& message);
// The same as a step of `session`: the file it holds gets the hash through
// its own handle, in the state it was digested in.
bool AppendHash(SealSession& session, const std::string& file_name,
                const std::string& hash, std::string& message);

// Returns the canonical form of an existing file's or directory's path, or
// the empty text for an unusable one. Trims the blanks off `path` once the
// entry is found.
std::string NormalizePath(const Services& services, std::string& path);

// How RewriteAsText may reach its result.
enum class RewriteStrategy {
  kMinimal,      // write only what changes: nothing, a final line end, or
                 // a new file
  kAlwaysWhole,  // always write the whole file anew
};

// Rewrites the data file so that every line ends in CR LF. Returns true when
// the file now follows the line rules, false when it was not rewritten (it
// is then as it was), an error where the system failed on the way (a
// leftover work file that cannot be removed, say).
Expected<bool> RewriteAsText(
    const Services& services, const std::string& file_name,
    RewriteStrategy strategy = RewriteStrategy::kMinimal);

// Computes the MD5 digest of the data file after rewriting it line by line.
// Replaces `file_name` by its canonical form. On success sets `hash` to the
// 32 digits and leaves `message` alone; on failure sets `message`.
bool GenerateHash(const Services& services, std::string& file_name,
                  std::string& hash, std::string& message);
// The same as a step of `session`, which then holds the file digested and
// knows its digest.
bool GenerateHash(SealSession& session, std::string& file_name,
                  std::string& hash, std::string& message);

// The name of the rewrite's work file, in the current directory.
inline constexpr char kRewriteWorkFileName[] = "~~~~MD5.TMP";
// What VerifyHash appends to the data file's name for its work file.
inline constexpr char kVerifyWorkFileSuffix[] = "~@~";

}  // namespace korvik
