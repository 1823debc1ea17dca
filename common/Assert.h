// Assertions for programming errors (a missing mandatory argument and the like).
//
// A failed assertion throws qz::EAssertionFailed whose text names the source unit and line,
// e.g. "Не задан протокол (exchange/monMain.cpp, line 42)". It is an exception rather than an
// abort so that a window can report it and go on.
#pragma once

#include <stdexcept>
#include <string>

namespace qz {

class EAssertionFailed : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

[[noreturn]] void AssertionFailed(const char* message, const char* file, int line);

// The unit's name as the assertion text shows it: the path below the source root.
const char* UnitName(const char* file);

} // namespace qz

#define QZ_ASSERT(cond, message)                                                                   \
    do {                                                                                           \
        if (!(cond)) ::qz::AssertionFailed((message), __FILE__, __LINE__);                         \
    } while (0)
