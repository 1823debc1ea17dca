// The meter family's frame: a 24-byte header, the data field and one check byte, and the
// command that builds such a request and recognises its answer.
//
// Header (little-endian): 0 Reserved(2) 2 Reserved2 3 Reserved3 4 DataLength(2) 6 Cmd 7 Cmd1
// 8 Address(2) 10 DeviceCode(2) 12 Param1 13 Param2 14 DateTime(6, BCD h m s d m y-2000)
// 20 Param3(2) 22 Status(2); then DataLength bytes of data and the check byte.
#pragma once

#include "protocol/Command.h"

#include <array>
#include <cstdint>
#include <vector>

namespace qz {

constexpr size_t kKavrenHeaderSize = 24;
// Header plus check byte: the size of a frame with an empty data field.
constexpr size_t kKavrenFrameOverhead = 25;
// The longest data field whose frame still fits a 16-bit frame buffer.
constexpr size_t kKavrenMaxDataLength = kMaxFrameSize - kKavrenFrameOverhead;

namespace kavren {
constexpr size_t kOffDataLength = 4;
constexpr size_t kOffCmd = 6;
constexpr size_t kOffCmd1 = 7;
constexpr size_t kOffAddress = 8;
constexpr size_t kOffDeviceCode = 10;
constexpr size_t kOffParam1 = 12;
constexpr size_t kOffParam2 = 13;
constexpr size_t kOffDateTime = 14;
constexpr size_t kOffParam3 = 20;
constexpr size_t kOffStatus = 22;
} // namespace kavren

// The date-time constant every request carries: 00:00:00 on 01.01.2000.
constexpr std::array<uint8_t, 6> kKavrenRequestDateTime{0, 0, 0, 1, 1, 0};

// All header fields of a frame.
struct TKavrenHeader {
    uint16_t Reserved = 0;
    uint8_t Reserved2 = 0;
    uint8_t Reserved3 = 0;
    uint16_t DataLength = 0;
    uint8_t Cmd = 0;
    uint8_t Cmd1 = 0;
    uint16_t Address = 0;
    uint16_t DeviceCode = 0;
    uint8_t Param1 = 0;
    uint8_t Param2 = 0;
    std::array<uint8_t, 6> DateTime{};
    uint16_t Param3 = 0;
    uint16_t Status = 0;
};

// Check byte over `size` bytes: the running value is XORed with each byte, rotated right by
// one bit and XORed with 0x1E when the bit rotated out was 1; the result is the final running
// value XOR 0xEB.
uint8_t KavrenCheckByte(const uint8_t* data, size_t size);

// Little-endian field access on raw bytes.
inline uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void WriteKavrenHeader(uint8_t* out, const TKavrenHeader& h); // writes 24 bytes
// Reads the header of `count` bytes; false (and `h` untouched) when fewer than 24.
bool ReadKavrenHeader(const uint8_t* p, size_t count, TKavrenHeader& h);

// A complete frame: `h` with DataLength set to `size`, the data and the check byte.
// `size` must not exceed kKavrenMaxDataLength.
std::vector<uint8_t> BuildKavrenFrame(TKavrenHeader h, const uint8_t* data, size_t size);

// True when `frame` is at least one header long and its last byte is the check byte of the
// others.
bool KavrenFrameCheckOk(const uint8_t* frame, size_t size);

// Header values of a command's requests, in the order the meter software keeps them.
struct TKavrenRequest {
    uint8_t Param1 = 0;
    uint8_t Param2 = 0;
    std::array<uint8_t, 6> DateTime = kKavrenRequestDateTime;
    uint16_t Param3 = 1;
    uint16_t Address = 0;
    uint16_t DeviceCode = 0;
    uint8_t Cmd = 0;
    uint8_t Cmd1 = 0;
};

class TKavrenCommand : public TCommand {
public:
    // Keeps its own copy of `dataSize` bytes of request data (none when `data` is nullptr).
    TKavrenCommand(const uint8_t* data, const TKavrenRequest& request, size_t dataSize);

    // True exactly when bytes 6 and 7 equal Cmd and Cmd1 (and at least 8 bytes are given).
    bool CheckAnswerHeader(const uint8_t* buffer, size_t count) const override;
    // The request frame; nullptr when its data would not fit a frame.
    TBufferPtr BuildRequest(size_t& size) const override;
    // The 16-bit Status of the held answer; 0 when none is held.
    int GetDeviceStatus() const override;

    // Expect exactly n data bytes (0: any length).
    void SetExpectedDataSize(uint16_t n);

    const TKavrenRequest& Request() const { return FRequest; }
    const uint8_t* AnswerFrame() const { return Answer(); }
    // The data field of the held answer, nullptr when none; AnswerDataSize() bytes of it are
    // present (the smaller of DataLength and what the frame holds).
    const uint8_t* AnswerData() const;
    size_t AnswerDataSize() const;
    // DataLength from the held answer's header; 0 when none.
    uint16_t AnswerDataLength() const;

private:
    TKavrenRequest FRequest;
    TBufferPtr FData;
    size_t FDataSize = 0;
};

} // namespace qz
