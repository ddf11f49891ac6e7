// Whole numbers written in decimal without the C library's printf family,
// whose code a run that only stamps its log would otherwise page in.
#pragma once

#include <cstddef>
#include <string>

namespace korvik {

// Appends `value` in decimal with zeros after any sign up to `width`
// characters in all, as "%0*d" does.
void AppendZeroPadded(std::string& text, int value, std::size_t width);

}  // namespace korvik
