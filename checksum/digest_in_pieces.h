// A file's digest computed here, a block at a time, through the library's
// stream digest: between blocks the operation's Progress hears how far it
// is and may stop it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "checksum/services.h"
#include "platform/file_system.h"
#include "platform/result.h"

namespace korvik {

// Determines whether an operation on `services` digests in pieces: where a
// Progress listens and the library offers its stream digest.
bool DigestsInPieces(const Services& services);

// Sets `digest` to the MD5 digest of the first `length` bytes of the open
// `file` followed by `suffix`, reading it from offset 0. Fails where the
// file ends early or services.progress asks to stop.
Status DigestInPieces(const Services& services, FileHandle file,
                      std::uint64_t length, std::string& digest,
                      std::string_view suffix = {});

}  // namespace korvik
