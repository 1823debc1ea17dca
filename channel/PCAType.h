// Unit PCAType: what every physical channel shares.
//
// - TPCAParams, the physical channel description;
// - PCAErrorText, the texts of the physical-channel error codes;
// - TPCACustom, the abstract physical channel, and CreatePCA, the factory.
//
// TPCAParams is a packed 527-byte record.
// The record is held as its bytes; the typed accessors read and write the named fields.
// The logical channel layer copies, compares and stores descriptions as bytes, so the byte
// form is the truth and every accessor works on it directly.
//
// Layout (little-endian, strings = one length byte + up to the stated number of characters
// in code page 1251; bytes after the text are not interpreted):
//   0    Kind        1 = serial port, 2 = TCP, anything else = no channel kind
//  Serial port (Kind 1):
//   1    PortName    7 bytes, at most 6 characters ("COM3")
//   8    Baudrate    uint32
//   12   Mode        0 direct line, 1 telephone modem, 2 radio modem, 3 optical attachment
//   13   PowerLines  modes 0 and 3: 1 = interface powered from DTR and RTS
//   13   InitString  modes 1 and 2 (same bytes): 256 bytes, at most 255 characters
//   269  DialNumber  mode 1: 1 = dial PhoneNumber, 0 = go off-hook without a number
//   270  PhoneNumber mode 1: 256 bytes, at most 255 characters
//   526  ToneDial    mode 1: 1 = tone, 0 = pulse
//   269  CallNumber  mode 2 (same bytes as DialNumber/PhoneNumber): 256 bytes
//  TCP (Kind 2):
//   1    IpAddress   16 bytes, at most 15 characters, dotted decimal
//   17   IpPort      uint16
//   19   reserved    0
//   20   reserved    255 bytes, zero
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qz {

class TPCAParams {
public:
    static constexpr size_t Size = 527;
    using TBytes = std::array<uint8_t, Size>;

    // Kind values.
    static constexpr uint8_t KindComPort = 1;
    static constexpr uint8_t KindTCP = 2;

    // Offsets and sizes of the fields (size of a string field = length byte + characters).
    static constexpr size_t OffKind = 0;
    static constexpr size_t OffPortName = 1, MaxPortName = 6;
    static constexpr size_t OffBaudrate = 8;
    static constexpr size_t OffMode = 12;
    static constexpr size_t OffPowerLines = 13;
    static constexpr size_t OffInitString = 13, MaxInitString = 255;
    static constexpr size_t OffDialNumber = 269;
    static constexpr size_t OffPhoneNumber = 270, MaxPhoneNumber = 255;
    static constexpr size_t OffToneDial = 526;
    static constexpr size_t OffCallNumber = 269, MaxCallNumber = 255;
    static constexpr size_t OffIpAddress = 1, MaxIpAddress = 15;
    static constexpr size_t OffIpPort = 17;
    // The TCP channel keeps bytes 1..274 of the record.
    static constexpr size_t TcpKeptSize = 274;

    TPCAParams() { Clear(); }

    // All bytes zero (Kind 0: no channel kind).
    void Clear() { Bytes.fill(0); }

    // The exact record.
    TBytes Serialize() const { return Bytes; }
    // Takes the first 527 bytes of data. Fewer bytes: false, the record is left unchanged.
    bool Parse(const uint8_t* data, size_t size);

    uint8_t Kind() const { return Bytes[OffKind]; }
    void SetKind(uint8_t v) { Bytes[OffKind] = v; }

    // Serial port fields. Strings are UTF-8 here and code page 1251 in the record, cut to the
    // field's maximum (a character the code page lacks becomes '?').
    std::string PortName() const { return GetString(OffPortName, MaxPortName); }
    void SetPortName(const std::string& utf8) { SetString(OffPortName, MaxPortName, utf8); }
    uint32_t Baudrate() const { return GetU32(OffBaudrate); }
    void SetBaudrate(uint32_t v) { SetU32(OffBaudrate, v); }
    uint8_t Mode() const { return Bytes[OffMode]; }
    void SetMode(uint8_t v) { Bytes[OffMode] = v; }
    uint8_t PowerLines() const { return Bytes[OffPowerLines]; }
    void SetPowerLines(uint8_t v) { Bytes[OffPowerLines] = v; }
    std::string InitString() const { return GetString(OffInitString, MaxInitString); }
    void SetInitString(const std::string& utf8) { SetString(OffInitString, MaxInitString, utf8); }
    uint8_t DialNumber() const { return Bytes[OffDialNumber]; }
    void SetDialNumber(uint8_t v) { Bytes[OffDialNumber] = v; }
    std::string PhoneNumber() const { return GetString(OffPhoneNumber, MaxPhoneNumber); }
    void SetPhoneNumber(const std::string& utf8) {
        SetString(OffPhoneNumber, MaxPhoneNumber, utf8);
    }
    uint8_t ToneDial() const { return Bytes[OffToneDial]; }
    void SetToneDial(uint8_t v) { Bytes[OffToneDial] = v; }
    std::string CallNumber() const { return GetString(OffCallNumber, MaxCallNumber); }
    void SetCallNumber(const std::string& utf8) { SetString(OffCallNumber, MaxCallNumber, utf8); }

    // TCP fields.
    std::string IpAddress() const { return GetString(OffIpAddress, MaxIpAddress); }
    void SetIpAddress(const std::string& utf8) { SetString(OffIpAddress, MaxIpAddress, utf8); }
    uint16_t IpPort() const { return uint16_t(Bytes[OffIpPort] | (Bytes[OffIpPort + 1] << 8)); }
    void SetIpPort(uint16_t v) {
        Bytes[OffIpPort] = uint8_t(v);
        Bytes[OffIpPort + 1] = uint8_t(v >> 8);
    }

    // A string field as it stands in the record: the length byte followed by that many code
    // page 1251 bytes. A length byte above the field's maximum (outside bytes) counts as the
    // maximum, so nothing outside the field is ever read. Descriptions compare their strings
    // this way ("as bytes including the length byte").
    std::string RawString(size_t offset, size_t maxChars) const;
    // The characters of a string field in code page 1251 (no length byte).
    std::string StringBytes(size_t offset, size_t maxChars) const;

    bool operator==(const TPCAParams& o) const { return Bytes == o.Bytes; }
    bool operator!=(const TPCAParams& o) const { return !(*this == o); }

    // The record itself.
    TBytes Bytes;

private:
    std::string GetString(size_t offset, size_t maxChars) const;
    // Writes the length byte and the characters and zeroes the rest of the field.
    void SetString(size_t offset, size_t maxChars, const std::string& utf8);
    uint32_t GetU32(size_t offset) const;
    void SetU32(size_t offset, uint32_t v);
};

// The text of a physical-channel error code (0 = empty string; unknown codes get
// "Неизвестный код ошибки.").
std::string PCAErrorText(int code);

} // namespace qz
