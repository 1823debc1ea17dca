// Texts of the meter's answer status (the Status field of an answer header).
#pragma once

#include <string>

namespace qz {

// The text of status 1..30; "Неизвестная ошибка" for 0 and any other value.
std::string DeviceStatusText(int status);

} // namespace qz
