#include "common/SystemErrorText.h"

#include <cerrno>

namespace qz {

std::string SystemErrorText(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
        return "отказано в доступе";
    case ENOENT:
        return "нет такого файла или папки";
    case ENOTDIR:
        return "часть пути — не папка";
    case EISDIR:
        return "это папка";
    case EEXIST:
        return "файл уже существует";
    case ENOSPC:
        return "на диске нет места";
#if defined(EDQUOT) && EDQUOT != ENOSPC
    case EDQUOT:
        return "превышена квота диска";
#endif
    case EROFS:
        return "диск только для чтения";
    case ENAMETOOLONG:
        return "слишком длинное имя";
    case ELOOP:
        return "слишком много ссылок в пути";
    case EIO:
        return "ошибка ввода-вывода";
    case EMFILE:
    case ENFILE:
        return "открыто слишком много файлов";
    case ENOMEM:
        return "недостаточно памяти";
    case EBUSY:
        return "устройство или ресурс занят";
    case EINVAL:
        return "недопустимый аргумент";
    default:
        return "системная ошибка " + std::to_string(err);
    }
}

} // namespace qz
