#include "common/Assert.h"

#include <cstring>

namespace qz {

const char* UnitName(const char* file) {
    if (!file) return "";
    // Keep the folder and file name ("channel/PCAType.cpp"); drop the build machine's path.
    const char* last = std::strrchr(file, '/');
    if (!last) return file;
    const char* prev = last;
    while (prev > file && prev[-1] != '/')
        --prev;
    return prev;
}

void AssertionFailed(const char* message, const char* file, int line) {
    std::string text = message && *message ? message : "Assertion failed";
    text += " (";
    text += UnitName(file);
    text += ", line ";
    text += std::to_string(line);
    text += ")";
    throw EAssertionFailed(text);
}

} // namespace qz
