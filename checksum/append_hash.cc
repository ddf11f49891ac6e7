#include "checksum/entries.h"
#include "checksum/operations.h"
#include "checksum/seal_session.h"

namespace korvik {
namespace {

constexpr char kAppended[] = "Hash Appended successfully to : ";
constexpr char kFailure[] =
    "Error Occured while Adding Checksum to the File : ";

}  // namespace

bool AppendHash(SealSession& session, const std::string& file_name,
                const std::string& hash, std::string& message) {
  if (hash.empty() || file_name.empty()) return false;
  Status written = session.AppendTrailer(file_name, hash);
  if (!written.ok()) {
    message = std::string(kFailure) + file_name + std::string(kCrLf) +
              written.error().description();
    return false;
  }
  message = std::string(kAppended) + file_name;
  return true;
}

bool AppendHash(const Services& services, const std::string& file_name,
                const std::string& hash, std::string& message) {
  SealSession session(services);
  return AppendHash(session, file_name, hash, message);
}

}  // namespace korvik
