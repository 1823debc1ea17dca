// A limits file of any bytes: it is either taken, with every limit a finite number the meter
// could hold, or refused with a text naming its line; never a crash, a hang or a read past a
// buffer.
#include "report/rpLimitsFile.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace qz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TmonSettings limits;
    std::string error;
    if (ParseLimitsText(text, limits, error)) {
        for (float v : limits.KULimits)
            if (!std::isfinite(v) || std::fabs(v) > 327.67f) std::abort();
        for (float v : limits.PhaseVoltageLimits)
            if (!std::isfinite(v) || std::fabs(v) > 327.67f) std::abort();
    } else if (error.rfind("строка ", 0) != 0) {
        std::abort();
    }
    return 0;
}
