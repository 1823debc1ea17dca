#include "collector/colLog.h"

#include "collector/colPayload.h"

namespace qz {

void TcolLog::Write(const std::string& who, const std::string& text) {
    const std::string line =
        IsoLocalTime(NowDateTime()) + (who.empty() ? "" : " [" + who + "]") + " " + text + "\n";
    std::lock_guard<std::mutex> lock(FMutex);
    FOut << line;
    FOut.flush();
}

} // namespace qz
