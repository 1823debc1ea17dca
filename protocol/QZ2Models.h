// The six QZ2 meter models the exchange handles: model index 0..5, their device types, the
// neutral-channel and "(A)" variant flags, variant, device code and 3-second record size.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qz {

constexpr int kQZ2ModelCount = 6;

struct TQZ2ModelInfo {
    const char* CmdLineName;  // "qz2", "qz2m", ...
    const char* DeviceTypeId; // "dtQZ2", ...
    int DeviceType;           // value of the connection model's device type enumeration
    bool HasNeutral;          // fourth measuring channel N, extended 3-second record
    bool IsA;                 // "(A)" variant
    uint8_t Variant;
    uint16_t DeviceCode;
    uint16_t RecordSize; // data bytes of the 3-second record
};

// Raised for a device type outside the six models.
class EUnsupportedDevice : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Row `index` (0..5) of the model table; QZ_ASSERT on any other index.
const TQZ2ModelInfo& QZ2Model(int index);

// Model index of a device type value (1..6 -> 0..5); -1 for any other value.
int ModelIndexOfDeviceTypeValue(int deviceType);
// The same, raising EUnsupportedDevice "Неподдерживаемый тип прибора: \"<name>\"" for a type
// outside the six; `displayName` is the type's display name.
int ModelIndexOfDeviceType(int deviceType, const std::string& displayName);
// Model index of a command-line name ("qz2", "QZ2M", ...), compared without case; -1 if none.
int ModelIndexOfName(const std::string& name);

// Flags of a model index; false for an index outside 0..5.
bool ModelHasNeutral(int index);
bool ModelIsA(int index);

// Device code of a protocol variant: 4 for variants 0 and 1, 20 for the (A) variants 2 and 3
// (and any higher value).
uint16_t DeviceCodeOfVariant(uint8_t variant);

} // namespace qz
