// Writing a few bytes after the end of a data file, in place.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/file_system.h"

namespace korvik {

// Writes `bytes` after the last byte of the open file, which the caller
// found `length` bytes long, and flushes them. Fails without writing where
// the file has another length by now; writes after whatever another process
// adds meanwhile, never over it. A failed write is undone where nothing else
// was written since.
Status AppendInPlace(FileSystem& files, FileHandle file, std::string_view bytes,
                     std::uint64_t length);

}  // namespace korvik
