// Keeps the window's connection list in the settings file. A stored list that does not load
// (an older copy of the program, a torn write, a hand edit) is never lost: its value stays in
// the file until the operator saves a list through the dialog, and is copied to a backup file
// before that list replaces it.
#pragma once

#include "connection/CcnConnectionList.h"

#include <string>

namespace qz {

class TmonIniFile;

// The start-up warning about a stored connection list that did not load: the settings file,
// why, and the file the stored value is copied to before a new list replaces it.
std::string ListNotLoadedText(const std::string& settingsFile, const std::string& reason,
                              const std::string& backupFile);

class TmonConnectionKeeper {
public:
    explicit TmonConnectionKeeper(TmonIniFile& settings) : FSettings(settings) {}

    TccnConnectionList& List() { return FList; }

    // Loads the stored list; the warning for the operator when it did not load, else "".
    std::string Load();
    // The list as it would be stored, to tell afterwards whether the dialog changed it.
    std::string Snapshot() const;
    // After the dialog: stores the list unless the damaged stored value is still to be kept
    // (the list is unchanged since `before`). False, with the operator's text in `error`, when
    // the backup of that value could not be written: then nothing is stored.
    bool StoreAfterDialog(const std::string& before, std::string& error);

    // The stored list did not load and its value is still kept in the settings file.
    bool StoredListKept() const { return FKeepStoredList; }
    // Where that value goes before a list replaces it.
    const std::string& BackupFile() const { return FBackup; }

private:
    TmonIniFile& FSettings;
    TccnConnectionList FList;
    bool FKeepStoredList = false;
    std::string FBackup;
};

} // namespace qz
