#include "protocol/KavrenCommand.h"

#include "common/Assert.h"

#include <cstring>

namespace qz {

uint8_t KavrenCheckByte(const uint8_t* data, size_t size) {
    uint8_t c = 0;
    for (size_t i = 0; i < size; ++i) {
        c ^= data[i];
        const bool out = (c & 1) != 0;
        c = static_cast<uint8_t>((c >> 1) | (out ? 0x80 : 0));
        if (out) c ^= 0x1E;
    }
    return static_cast<uint8_t>(c ^ 0xEB);
}

void WriteKavrenHeader(uint8_t* out, const TKavrenHeader& h) {
    using namespace kavren;
    PutU16(out + 0, h.Reserved);
    out[2] = h.Reserved2;
    out[3] = h.Reserved3;
    PutU16(out + kOffDataLength, h.DataLength);
    out[kOffCmd] = h.Cmd;
    out[kOffCmd1] = h.Cmd1;
    PutU16(out + kOffAddress, h.Address);
    PutU16(out + kOffDeviceCode, h.DeviceCode);
    out[kOffParam1] = h.Param1;
    out[kOffParam2] = h.Param2;
    std::memcpy(out + kOffDateTime, h.DateTime.data(), 6);
    PutU16(out + kOffParam3, h.Param3);
    PutU16(out + kOffStatus, h.Status);
}

bool ReadKavrenHeader(const uint8_t* p, size_t count, TKavrenHeader& h) {
    using namespace kavren;
    if (!p || count < kKavrenHeaderSize) return false;
    h.Reserved = GetU16(p);
    h.Reserved2 = p[2];
    h.Reserved3 = p[3];
    h.DataLength = GetU16(p + kOffDataLength);
    h.Cmd = p[kOffCmd];
    h.Cmd1 = p[kOffCmd1];
    h.Address = GetU16(p + kOffAddress);
    h.DeviceCode = GetU16(p + kOffDeviceCode);
    h.Param1 = p[kOffParam1];
    h.Param2 = p[kOffParam2];
    std::memcpy(h.DateTime.data(), p + kOffDateTime, 6);
    h.Param3 = GetU16(p + kOffParam3);
    h.Status = GetU16(p + kOffStatus);
    return true;
}

std::vector<uint8_t> BuildKavrenFrame(TKavrenHeader h, const uint8_t* data, size_t size) {
    QZ_ASSERT(size <= kKavrenMaxDataLength, "Поле данных не помещается в кадр");
    h.DataLength = static_cast<uint16_t>(size);
    std::vector<uint8_t> frame(size + kKavrenFrameOverhead);
    WriteKavrenHeader(frame.data(), h);
    if (size) std::memcpy(frame.data() + kKavrenHeaderSize, data, size);
    frame.back() = KavrenCheckByte(frame.data(), frame.size() - 1);
    return frame;
}

bool KavrenFrameCheckOk(const uint8_t* frame, size_t size) {
    if (!frame || size < kKavrenFrameOverhead) return false;
    return KavrenCheckByte(frame, size - 1) == frame[size - 1];
}

TKavrenCommand::TKavrenCommand(const uint8_t* data, const TKavrenRequest& request, size_t dataSize)
    : FRequest(request) {
    if (data && dataSize) {
        QZ_ASSERT(dataSize <= kKavrenMaxDataLength, "Данные запроса не помещаются в кадр");
        FData = AllocBuffer(dataSize);
        std::memcpy(FData.get(), data, dataSize);
        FDataSize = dataSize;
    }
}

bool TKavrenCommand::CheckAnswerHeader(const uint8_t* buffer, size_t count) const {
    if (!buffer || count <= kavren::kOffCmd1) return false;
    return buffer[kavren::kOffCmd] == FRequest.Cmd && buffer[kavren::kOffCmd1] == FRequest.Cmd1;
}

TBufferPtr TKavrenCommand::BuildRequest(size_t& size) const {
    size = FDataSize + kKavrenFrameOverhead;
    TBufferPtr frame = AllocBuffer(size);
    TKavrenHeader h;
    h.DataLength = static_cast<uint16_t>(FData ? FDataSize : 0);
    h.Cmd = FRequest.Cmd;
    h.Cmd1 = FRequest.Cmd1;
    h.Address = FRequest.Address;
    h.DeviceCode = FRequest.DeviceCode;
    h.Param1 = FRequest.Param1;
    h.Param2 = FRequest.Param2;
    h.DateTime = FRequest.DateTime;
    h.Param3 = FRequest.Param3;
    WriteKavrenHeader(frame.get(), h);
    if (FDataSize) std::memcpy(frame.get() + kKavrenHeaderSize, FData.get(), FDataSize);
    frame[size - 1] = KavrenCheckByte(frame.get(), size - 1);
    return frame;
}

int TKavrenCommand::GetDeviceStatus() const {
    if (!Answer() || AnswerSize() < kKavrenHeaderSize) return 0;
    return GetU16(Answer() + kavren::kOffStatus);
}

void TKavrenCommand::SetExpectedDataSize(uint16_t n) {
    CheckAnswerSize = n != 0;
    if (n != 0) ExpectedAnswerSize = static_cast<int32_t>(n) + kKavrenFrameOverhead;
}

const uint8_t* TKavrenCommand::AnswerData() const {
    if (!Answer() || AnswerSize() < kKavrenHeaderSize) return nullptr;
    return Answer() + kKavrenHeaderSize;
}

size_t TKavrenCommand::AnswerDataSize() const {
    if (!Answer() || AnswerSize() < kKavrenHeaderSize) return 0;
    const size_t present = AnswerSize() - kKavrenHeaderSize;
    // A complete frame ends with the check byte, which is not data.
    const size_t inFrame = present > 0 ? present - 1 : 0;
    const size_t announced = AnswerDataLength();
    return announced < inFrame ? announced : inFrame;
}

uint16_t TKavrenCommand::AnswerDataLength() const {
    if (!Answer() || AnswerSize() < kKavrenHeaderSize) return 0;
    return GetU16(Answer() + kavren::kOffDataLength);
}

} // namespace qz
