// The collector's messages: one line each, with the local time and the meter they are about,
// written whole even when several meters report at once (systemd's journal takes stderr).
#pragma once

#include <mutex>
#include <ostream>
#include <string>

namespace qz {

class TcolLog {
public:
    explicit TcolLog(std::ostream& out) : FOut(out) {}
    // "2026-12-08T14:23:11.000 [who] text"; `who` empty: the collector itself.
    void Write(const std::string& who, const std::string& text);

private:
    std::mutex FMutex;
    std::ostream& FOut;
};

} // namespace qz
