// What the files of the main window share; not for use outside the window.
#pragma once

#include "monitor/monFormat.h"

#include <QString>

#include <string>

namespace qz {

class TccnConnection;

extern const char* const kmonCaptionWarning; // "Внимание"
extern const char* const kmonCaptionError;   // "Ошибка"

inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The meter as the operator knows it: its model and factory number ("" without one).
std::string MeterName(const TccnConnection* c);

// The system's formats: the decimal separator and short date plus long time, the time left
// out at exactly midnight.
TmonFormatContext SystemFormat();

} // namespace qz
