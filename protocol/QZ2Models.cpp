#include "protocol/QZ2Models.h"

#include "common/Assert.h"
#include "protocol/QZ2Layout.h"

#include <cctype>

namespace qz {

namespace {
constexpr uint16_t kBasic = qz2::kRecordBasicSize;
constexpr uint16_t kExt = qz2::kRecordExtendedSize;
const TQZ2ModelInfo kModels[kQZ2ModelCount] = {
    {"qz2", "dtQZ2", 1, false, false, 0, 4, kBasic},
    {"qz2m", "dtQZ2M", 2, true, false, 1, 4, kExt},
    {"qz2c", "dtQZ2C", 3, true, false, 1, 4, kExt},
    {"qz2a", "dtQZ2A", 4, false, true, 2, 20, kBasic},
    {"qz2ma", "dtQZ2AM", 5, true, true, 3, 20, kExt},
    {"qz2ca", "dtQZ2AC", 6, true, true, 3, 20, kExt},
};
} // namespace

const TQZ2ModelInfo& QZ2Model(int index) {
    QZ_ASSERT(index >= 0 && index < kQZ2ModelCount, "Неверный номер модели прибора");
    return kModels[index];
}

int ModelIndexOfDeviceTypeValue(int deviceType) {
    for (int i = 0; i < kQZ2ModelCount; ++i)
        if (kModels[i].DeviceType == deviceType) return i;
    return -1;
}

int ModelIndexOfDeviceType(int deviceType, const std::string& displayName) {
    const int i = ModelIndexOfDeviceTypeValue(deviceType);
    if (i < 0) throw EUnsupportedDevice("Неподдерживаемый тип прибора: \"" + displayName + "\"");
    return i;
}

int ModelIndexOfName(const std::string& name) {
    std::string lower;
    for (char c : name)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (int i = 0; i < kQZ2ModelCount; ++i)
        if (lower == kModels[i].CmdLineName) return i;
    return -1;
}

bool ModelHasNeutral(int index) {
    return index >= 0 && index < kQZ2ModelCount && kModels[index].HasNeutral;
}

bool ModelIsA(int index) {
    return index >= 0 && index < kQZ2ModelCount && kModels[index].IsA;
}

uint16_t DeviceCodeOfVariant(uint8_t variant) {
    return variant < 2 ? 4 : 20;
}

} // namespace qz
