// The connection-list reader against any bytes in the binary form. Beyond surviving the
// input, a list that loads must save to bytes that load again, and the saved form is a fixed
// point after one reload: empty strings are not stored, so a loaded empty string comes back as
// its property's default the first time round (an empty PortName as "COM1"), and from then on
// nothing changes. The generic binary-to-text conversion runs on the same bytes.
#include "connection/CcnConnectionList.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string SaveBinary(const qz::TccnConnectionList& list) {
    qz::TccnMemoryStream s;
    list.SaveToStream(s, qz::sfBinary);
    return s.Data();
}

// The saved bytes load again (or the run aborts), and the list they give is saved anew.
std::string ReloadAndSave(const std::string& saved) {
    qz::TccnMemoryStream in(saved);
    qz::TccnConnectionList list;
    if (!list.TryLoadFromStream(in, qz::sfBinary)) std::abort();
    return SaveBinary(list);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
        size_t pos = 0;
        qz::ObjectBinaryToText(bytes, pos);
        if (pos > bytes.size()) std::abort();
    } catch (const qz::EccnStreamError&) {
    }

    qz::TccnConnectionList list;
    qz::TccnMemoryStream in(bytes);
    if (!list.TryLoadFromStream(in, qz::sfBinary)) {
        if (list.Count() != 0) std::abort();
        return 0;
    }
    const std::string first = SaveBinary(list);
    const std::string second = ReloadAndSave(first);
    if (ReloadAndSave(second) != second) std::abort();
    return 0;
}
