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

} // namespace qz::test
