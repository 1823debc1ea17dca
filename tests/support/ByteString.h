// Bytes written by hand, as the tests of a binary format spell them out: {0x54, 0x50, ...}.
#pragma once

#include <initializer_list>
#include <string>

namespace qz::test {

inline std::string ByteString(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes)
        s.push_back(char(b));
    return s;
}

// The short name the tables of bytes use.
inline std::string B(std::initializer_list<int> bytes) {
    return ByteString(bytes);
}

} // namespace qz::test
