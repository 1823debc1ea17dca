#include "channel/LCAType.h"

namespace qz {

std::array<uint8_t, TLCAParams::kSize> TLCAParams::Serialize() const {
    std::array<uint8_t, kSize> out{};
    const auto pca = Pca.Serialize();
    std::copy(pca.begin(), pca.end(), out.begin());
    out[527] = uint8_t(MaxAttemptCountOnConnect & 0xFF);
    out[528] = uint8_t(MaxAttemptCountOnConnect >> 8);
    out[529] = Priority;
    out[530] = LogMask;
    return out;
}

bool TLCAParams::Parse(const uint8_t* data, size_t size, TLCAParams& out) {
    if (!data || size < kSize) return false;
    TLCAParams p;
    if (!p.Pca.Parse(data, TPCAParams::Size)) return false;
    p.MaxAttemptCountOnConnect = uint16_t(data[527] | (data[528] << 8));
    p.Priority = data[529];
    p.LogMask = data[530];
    out = p;
    return true;
}

std::string LCAErrorText(int32_t code) {
    switch (code) {
    case lcaErrTaskExists:
        return "На логическом канале уже существует команда.";
    case lcaErrBadBuffer:
        return "Неверный указатель на данные";
    case lcaErrBadEvent:
        return "Неверный указатель на Event";
    case lcaErrBadLockHandle:
        return "Неверный Handle снятия атомарной блокировки";
    case lcaErrAborted:
        return "Выполнение команды прервано пользователем";
    case lcaErrBadPriority:
        return "Недопустимый приоритет на логическом канале";
    default:
        return PCAErrorText(code);
    }
}

} // namespace qz
