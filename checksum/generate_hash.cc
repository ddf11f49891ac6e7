#include "checksum/digest_library.h"
#include "checksum/entries.h"
#include "checksum/operations.h"
#include "checksum/seal_session.h"

namespace korvik {
namespace {

constexpr char kLibraryMissing[] =
    " Unexpected Error :  Checksum Library file korvik.DLL is missing.";
constexpr char kRewriteFailed[] = "Error occured while trying to open file : ";
constexpr char kFailure[] = "Error Generating Hash : ";

}  // namespace

bool GenerateHash(SealSession& session, std::string& file_name,
                  std::string& hash, std::string& message) {
  const Services& services = session.services();
  auto fail = [&](std::string text) {
    message = std::move(text);
    hash.clear();
    return false;
  };
  auto failure = [&](const Error& error) {
    return fail(std::string(kFailure) + std::string(kCrLf) +
                error.description());
  };

  file_name = NormalizePath(services, file_name);
  if (file_name.empty()) return fail(kInvalidFileName);
  auto ordinary = IsOrdinaryFile(services.files, TrimBlanks(file_name));
  if (!ordinary.ok()) return failure(ordinary.error());
  if (!*ordinary) return fail(kInvalidFileName);

  auto present = DigestLibraryPresent(services);
  if (!present.ok()) return failure(present.error());
  if (!*present) return fail(kLibraryMissing);

  auto rewritten = session.Rewrite(file_name);
  if (!rewritten.ok()) return failure(rewritten.error());
  if (!rewritten->done()) {
    message = std::string(kRewriteFailed) + file_name;
    return false;
  }
  auto digest = session.Digest(file_name);
  if (!digest.ok()) return failure(digest.error());
  hash = std::move(*digest);
  return true;
}

bool GenerateHash(const Services& services, std::string& file_name,
                  std::string& hash, std::string& message) {
  SealSession session(services, {.hold = SealHold::kForTheRewrite});
  return GenerateHash(session, file_name, hash, message);
}

}  // namespace korvik
