#include "monitor/monConnectionKeeper.h"

#include "settings/monIniFile.h"

#include <ctime>

namespace qz {

std::string ListNotLoadedText(const std::string& settingsFile, const std::string& reason,
                              const std::string& backupFile) {
    return "Список подключений не загружен из файла настроек\r\n" + settingsFile +
           "\r\n\r\nПричина: " + reason +
           "\r\n\r\nСохранённый список остаётся в файле настроек без изменений, пока в окне "
           "выбора измерителя не будет сохранён новый список. Перед этим он будет скопирован "
           "в файл\r\n" +
           backupFile;
}

std::string TmonConnectionKeeper::Load() {
    const TmonListLoad load = FSettings.LoadConnectionList(FList);
    if (load.State != TmonListState::Damaged) return std::string();
    FKeepStoredList = true;
    FBackup = FSettings.ConnectionBackupPath(std::time(nullptr));
    return ListNotLoadedText(FSettings.FileName(), load.Reason, FBackup);
}

std::string TmonConnectionKeeper::Snapshot() const {
    TccnMemoryStream stream;
    FList.SaveToStream(stream, sfBinary);
    return stream.Data();
}

bool TmonConnectionKeeper::StoreAfterDialog(const std::string& before, std::string& error) {
    if (FKeepStoredList) {
        // The list shown was empty in place of the damaged one; only a list the operator
        // made replaces the stored value, and only once a copy of that value is on disk.
        if (Snapshot() == before) return true;
        std::string why;
        if (!FSettings.WriteConnectionBackup(FBackup, &why)) {
            error = "Список подключений не сохранён: не удалось сохранить копию прежнего "
                    "списка.\r\n\r\n" +
                    why;
            return false;
        }
        FKeepStoredList = false;
    }
    // The dialog may have added, changed or deleted connections: keep them on disk now.
    FSettings.SaveConnections(FList);
    return true;
}

} // namespace qz
