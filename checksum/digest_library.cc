#include "checksum/digest_library.h"

#include <cstring>

#include "checksum/entries.h"
#include "digest/stream_context.h"

namespace korvik {
namespace {

class LoadedDigestStream final : public DigestStream {
 public:
  LoadedDigestStream(LibraryLoader& loader, std::string library_path,
                     LoadedDigestLibrary::StreamFunctions functions)
      : loader_(loader),
        library_path_(std::move(library_path)),
        functions_(functions) {}
  LoadedDigestStream(const LoadedDigestStream&) = delete;
  LoadedDigestStream& operator=(const LoadedDigestStream&) = delete;
  ~LoadedDigestStream() override {
    if (!ended_) (void)functions_.end(context_, nullptr);
  }

  Status Begin() {
    ended_ = false;
    return Checked(functions_.begin(
        context_, static_cast<long long>(digest::kStreamContextSize)));
  }

  Status Update(std::span<const char> data) override {
    return Checked(functions_.update(context_, data.data(),
                                     static_cast<long long>(data.size())));
  }

  Status Finish(std::string& digest) override {
    char buffer[kDigestLength + 1];
    std::memset(buffer, ' ', kDigestLength);
    buffer[kDigestLength] = '\0';
    ended_ = true;
    Status ended = Checked(functions_.end(context_, buffer));
    if (ended.ok()) digest.assign(buffer, kDigestLength);
    return ended;
  }

 private:
  Status Checked(int code) {
    if (code == 0) return Status::Ok();
    return loader_.ErrorOfCode(code, "digest with", library_path_);
  }

  LibraryLoader& loader_;
  std::string library_path_;
  LoadedDigestLibrary::StreamFunctions functions_;
  bool ended_ = true;  // nothing begun, or its end called
  alignas(digest::kStreamAlignment) char context_[digest::kStreamContextSize];
};

}  // namespace

LoadedDigestLibrary::LoadedDigestLibrary(LibraryLoader& loader,
                                         std::string library_path)
    : loader_(loader), library_path_(std::move(library_path)) {}

Status LoadedDigestLibrary::Load() {
  if (md_file_ != nullptr) return Status::Ok();
  auto function = loader_.LoadFunction(library_path_, "MDFile");
  if (!function.ok()) return function.status();
  md_file_ = reinterpret_cast<digest::MDFileFunction>(*function);
  // A library made for the one-function interface lacks it.
  auto head = loader_.LoadFunction(library_path_, "MDFileHead");
  if (head.ok())
    md_file_head_ = reinterpret_cast<digest::MDFileHeadFunction>(*head);
  auto begin = loader_.LoadFunction(library_path_, "MDStreamBegin");
  auto update = loader_.LoadFunction(library_path_, "MDStreamUpdate");
  auto end = loader_.LoadFunction(library_path_, "MDStreamEnd");
  if (begin.ok() && update.ok() && end.ok()) {
    stream_.begin = reinterpret_cast<decltype(stream_.begin)>(*begin);
    stream_.update = reinterpret_cast<decltype(stream_.update)>(*update);
    stream_.end = reinterpret_cast<decltype(stream_.end)>(*end);
  }
  return Status::Ok();
}

template <typename Function>
Status LoadedDigestLibrary::Call(const std::string& file_name,
                                 std::string& digest, Function digest_into) {
  auto name = loader_.SingleByteName(file_name);
  if (!name.ok()) return name.status();
  // The library writes its digits over 32 blanks and a terminating zero.
  char buffer[kDigestLength + 1];
  std::memset(buffer, ' ', kDigestLength);
  buffer[kDigestLength] = '\0';
  const int code = digest_into(name->c_str(), buffer);
  digest.assign(buffer, kDigestLength);
  if (code != 0) return loader_.ErrorOfCode(code, "digest", file_name);
  return Status::Ok();
}

Status LoadedDigestLibrary::MDFile(const std::string& file_name,
                                   std::string& digest) {
  if (Status loaded = Load(); !loaded.ok()) return loaded;
  return Call(file_name, digest, md_file_);
}

bool LoadedDigestLibrary::OffersHeadDigest() {
  return Load().ok() && md_file_head_ != nullptr;
}

Status LoadedDigestLibrary::MDFileHead(const std::string& file_name,
                                       std::uint64_t length,
                                       std::string& digest) {
  if (!OffersHeadDigest()) {
    return Error(ErrorKind::kNotFound, "the digest library '" + library_path_ +
                                           "' offers no function MDFileHead");
  }
  return Call(file_name, digest, [&](const char* name, char* buffer) {
    return md_file_head_(name, static_cast<long long>(length), buffer);
  });
}

bool LoadedDigestLibrary::OffersStreamDigest() {
  return Load().ok() && stream_.begin != nullptr;
}

Expected<std::unique_ptr<DigestStream>> LoadedDigestLibrary::StartStream() {
  if (!OffersStreamDigest()) {
    return Error(ErrorKind::kNotFound,
                 "the digest library '" + library_path_ +
                     "' offers no function MDStreamBegin");
  }
  auto stream =
      std::make_unique<LoadedDigestStream>(loader_, library_path_, stream_);
  if (Status begun = stream->Begin(); !begun.ok()) return begun.error();
  return std::unique_ptr<DigestStream>(std::move(stream));
}

std::string DigestLibraryPath(Process& process, PathSyntax paths) {
  return paths.Join(process.ProgramDirectory(), kDigestLibraryFileName);
}

Expected<bool> DigestLibraryPresent(const Services& services) {
  return IsOrdinaryFile(services.files,
                        DigestLibraryPath(services.process, services.paths));
}

}  // namespace korvik
