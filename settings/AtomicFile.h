// Replacing a file as a whole: the new contents go to a temporary file in the same folder,
// which is flushed to the disk and then renamed over the old file. A crash or a full disk
// leaves either the old file or the new one, never a torn or empty file.
#pragma once

#include <cstddef>
#include <string>

namespace qz {

// No settings file comes near this size; a larger file is not one of ours.
inline constexpr size_t kMaxReadSize = size_t(64) << 20;

// Writes `data` to `path` as described above. On failure the old file is untouched, the
// temporary file is removed and `error` (when given) receives a Russian text naming the file
// and the cause. The folder must exist. A new file gets mode 0666 less the umask, like any
// file the user creates; a replaced file keeps its permission bits. When `path` is a symbolic link,
// the file it points to is replaced and the link stays.
bool WriteFileAtomically(const std::string& path, const std::string& data,
                         std::string* error = nullptr);

// Reads a whole file. Returns false when it cannot be opened or read or is larger than
// `maxSize`; `absent` tells whether the reason was that the file does not exist.
bool ReadWholeFile(const std::string& path, std::string& data, bool& absent,
                   std::string* error = nullptr, size_t maxSize = kMaxReadSize);

} // namespace qz
