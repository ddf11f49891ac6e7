// The caller-held state of a digest fed piece by piece (MDStreamBegin,
// MDStreamUpdate, MDStreamEnd), the same on every system.
#pragma once

#include <cstddef>

namespace korvik::digest {

// The bytes a caller provides for the state, aligned as kStreamAlignment:
// more than any library's state needs.
inline constexpr std::size_t kStreamContextSize = 256;
inline constexpr std::size_t kStreamAlignment = 16;

}  // namespace korvik::digest
