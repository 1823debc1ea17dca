#include "settings/HexText.h"

namespace qz {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

std::string BytesToHex(const uint8_t* data, size_t size) {
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0x0F];
    }
    return out;
}

std::string BytesToHex(const std::vector<uint8_t>& bytes) {
    return BytesToHex(bytes.data(), bytes.size());
}

bool HexToBytes(const std::string& text, std::vector<uint8_t>& out, size_t* badPos) {
    out.clear();
    auto fail = [&out, badPos](size_t pos) {
        out.clear();
        if (badPos) *badPos = pos;
        return false;
    };
    const size_t pairs = text.size() / 2;
    out.reserve(pairs);
    for (size_t i = 0; i < pairs; ++i) {
        const int hi = DigitValue(text[2 * i]);
        const int lo = DigitValue(text[2 * i + 1]);
        if (hi < 0) return fail(2 * i);
        if (lo < 0) return fail(2 * i + 1);
        out.push_back(uint8_t(hi << 4 | lo));
    }
    // The odd trailing digit is dropped, but it must still be a digit.
    if (text.size() % 2 != 0 && DigitValue(text.back()) < 0) return fail(text.size() - 1);
    return true;
}

} // namespace qz
