// The version line every program prints for --version: the program's name and the project's
// version compiled in, in the same major.minor.release form the window title shows.
#pragma once

#include <string>

namespace qz {

inline std::string ProgramVersionText(const std::string& program) {
    return program + ' ' + std::to_string(QZ_VERSION_MAJOR) + '.' +
           std::to_string(QZ_VERSION_MINOR) + '.' + std::to_string(QZ_VERSION_PATCH) + '\n';
}

} // namespace qz
