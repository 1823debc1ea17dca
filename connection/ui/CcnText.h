// The texts of the connection dialogs are UTF-8, in the sources and in the stored list; the
// widgets take QString.
#pragma once

#include <QString>

#include <string>

namespace qz {
namespace ccnui {

inline QString U(const char* s) {
    return QString::fromUtf8(s);
}
inline QString U(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace ccnui
} // namespace qz
