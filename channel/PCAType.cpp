#include "channel/PCAType.h"

#include "common/Cp1251.h"

#include <algorithm>
#include <cstring>

namespace qz {

bool TPCAParams::Parse(const uint8_t* data, size_t size) {
    if (!data || size < Size) return false;
    std::memcpy(Bytes.data(), data, Size);
    return true;
}

std::string TPCAParams::StringBytes(size_t offset, size_t maxChars) const {
    size_t len = std::min<size_t>(Bytes[offset], maxChars);
    return std::string(reinterpret_cast<const char*>(Bytes.data()) + offset + 1, len);
}

std::string TPCAParams::RawString(size_t offset, size_t maxChars) const {
    std::string s = StringBytes(offset, maxChars);
    s.insert(s.begin(), char(uint8_t(s.size())));
    return s;
}

std::string TPCAParams::GetString(size_t offset, size_t maxChars) const {
    return Cp1251ToUtf8(StringBytes(offset, maxChars));
}

void TPCAParams::SetString(size_t offset, size_t maxChars, const std::string& utf8) {
    std::string cp = Utf8ToCp1251(utf8);
    if (cp.size() > maxChars) cp.resize(maxChars);
    std::fill(Bytes.begin() + offset, Bytes.begin() + offset + 1 + maxChars, 0);
    Bytes[offset] = uint8_t(cp.size());
    std::memcpy(Bytes.data() + offset + 1, cp.data(), cp.size());
}

uint32_t TPCAParams::GetU32(size_t offset) const {
    return uint32_t(Bytes[offset]) | uint32_t(Bytes[offset + 1]) << 8 |
           uint32_t(Bytes[offset + 2]) << 16 | uint32_t(Bytes[offset + 3]) << 24;
}

void TPCAParams::SetU32(size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        Bytes[offset + i] = uint8_t(v >> (8 * i));
}

std::string PCAErrorText(int code) {
    switch (code) {
    case 0:
        return "";
    case 1:
        return "Действие не реализовано.";
    case 2:
        return "Не было начальной инициализации модуля.";
    case 3:
        return "Неверный Handle.";
    case 4:
        return "Неверный тип PCA.";
    case 5:
        return "Превышено время ожидания.";
    case 10:
        return "Порт занят другим приложением.";
    case 11:
        return "Com-порт не найден.";
    case 12:
        return "Ошибка записи в порт";
    case 13:
        return "Ошибка чтения из порта";
    case 14:
        return "Модем не найден.";
    case 15:
        return "Неверное имя порта.";
    case 16:
        return "Не удалось установить соединение с модемом.";
    case 17:
        return "Инициализация модема не прошла.";
    case 18:
        return "Ошибка при создании сокета.";
    case 19:
        return "Удаленный сервер не найден.";
    case 20:
        return "Неверные IP и порт.";
    case 21:
        return "Неверные адрес.";
    case 22:
        return "Соединение потеряно.";
    case 23:
        return "Инициализация порта выполнена с ошибкой.";
    case 24:
        return "Подключенное устройство неопределяется.";
    case 25:
        return "Нет соединения с оптической приставкой.";
    default:
        return "Неизвестный код ошибки.";
    }
}

} // namespace qz
