// Text put into JSON that other programs read.
#pragma once

#include <string>

namespace qz {

// `text` (UTF-8) as a JSON string literal with its quotes: quotes, backslashes and control
// characters escaped, everything else as it is.
std::string JsonStringText(const std::string& text);

} // namespace qz
