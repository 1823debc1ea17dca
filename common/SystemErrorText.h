// The operator's words for an error number of the system: the library's own texts are in
// English wherever the system has no Russian messages installed.
#pragma once

#include <string>

namespace qz {

// "Отказано в доступе" for EACCES and so on; a number without a text of ours gives
// "системная ошибка N".
std::string SystemErrorText(int err);

} // namespace qz
