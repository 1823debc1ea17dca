// Replacing a file as a whole: the new contents go to a temporary file in the same folder,
// which is flushed to the disk and then renamed over the old file. A crash or a full disk
// leaves either the old file or the new one, never a torn or empty file.
#pragma once

#include <string>

namespace qz {

// Writes `data` to `path` as described above. On failure the old file is untouched, the
// temporary file is removed and `error` (when given) receives a Russian text naming the file
// and the cause. The folder must exist. A new file is readable by its owner only; a replaced
// file keeps its permission bits.
bool WriteFileAtomically(const std::string& path, const std::string& data,
                         std::string* error = nullptr);

// Reads a whole file. Returns false when it cannot be opened or read; `absent` tells whether
// the reason was that the file does not exist.
bool ReadWholeFile(const std::string& path, std::string& data, bool& absent,
                   std::string* error = nullptr);

} // namespace qz
