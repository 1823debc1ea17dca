// Builds meter answer data fields byte by byte at the offsets of the meter's layouts, so that
// the tests state the layout themselves instead of borrowing it from the code under test.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace qz {
namespace test {

class TRecordBuilder {
public:
    explicit TRecordBuilder(size_t size) : Bytes(size, 0) {}
    TRecordBuilder& U8(size_t off, uint8_t v) {
        Bytes.at(off) = v;
        return *this;
    }
    TRecordBuilder& U16(size_t off, uint16_t v) {
        Bytes.at(off) = uint8_t(v);
        Bytes.at(off + 1) = uint8_t(v >> 8);
        return *this;
    }
    TRecordBuilder& I16(size_t off, int16_t v) { return U16(off, uint16_t(v)); }
    TRecordBuilder& F32(size_t off, float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        for (int i = 0; i < 4; ++i)
            Bytes.at(off + i) = uint8_t(bits >> (8 * i));
        return *this;
    }
    // {float fundamental, float true RMS, i16 angle in 0.01 degree}
    TRecordBuilder& Group(size_t off, float first, float second, int16_t angle) {
        return F32(off, first).F32(off + 4, second).I16(off + 8, angle);
    }
    // Harmonic n (2..40) of the table at `table`: i16 real, i16 imaginary.
    TRecordBuilder& Harm(size_t table, int n, int16_t re, int16_t im) {
        return I16(table + 4 * (n - 2), re).I16(table + 4 * (n - 2) + 2, im);
    }
    const uint8_t* data() const { return Bytes.data(); }
    size_t size() const { return Bytes.size(); }

    std::vector<uint8_t> Bytes;
};

} // namespace test
} // namespace qz
