// The user's folders by the XDG base-directory rules. These stand in for the desktop's
// "known folders": local application data and documents.
#pragma once

#include <string>

namespace qz {

// $XDG_DATA_HOME when it is an absolute path, otherwise $HOME/.local/share.
std::string XdgDataHome();
// $XDG_CONFIG_HOME when absolute, otherwise $HOME/.config.
std::string XdgConfigHome();
// The documents folder: $XDG_DOCUMENTS_DIR, else the XDG_DOCUMENTS_DIR line of
// <config>/user-dirs.dirs (with $HOME expanded), else $HOME/Documents.
std::string XdgDocumentsDir();
// $HOME, or the password database's home folder when HOME is unset.
std::string HomeDir();

} // namespace qz
