// An export file written as a stream and put in place only when it is complete: the bytes go
// to a temporary file beside the target (mode 0666 less the umask), which is synced and then
// renamed over it. A failure or an interruption leaves the old file, or none, never a torn
// one; a target that exists but cannot be read is not ours to replace and is refused.
#pragma once

#include <cstdio>
#include <string>

namespace qz {

class TjnOutFile {
public:
    TjnOutFile() = default;
    ~TjnOutFile(); // an uncommitted file is removed
    TjnOutFile(const TjnOutFile&) = delete;
    TjnOutFile& operator=(const TjnOutFile&) = delete;

    bool Open(const std::string& target, std::string& error);
    // Buffered; failures are seen by Commit.
    void Write(const std::string& s) { Write(s.data(), s.size()); }
    void Write(const char* data, size_t size);
    bool Commit(std::string& error);

private:
    std::string FTarget, FTemp;
    std::FILE* FFile = nullptr;
    bool FFailed = false;
};

} // namespace qz
