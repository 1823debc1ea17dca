// The connection-list reader against any bytes in the binary form. Beyond surviving the
// input, a list that loads must be a fixed point: its saved form loads back and saves to
// the same bytes. The generic binary-to-text conversion runs on the same bytes.
#include "connection/CcnConnectionList.h"

#include <cstdint>
#include <cstdlib>
#include <string>

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
    qz::TccnMemoryStream first;
    list.SaveToStream(first, qz::sfBinary);
    first.SetPosition(0);
    qz::TccnConnectionList again;
    if (!again.TryLoadFromStream(first, qz::sfBinary)) std::abort();
    qz::TccnMemoryStream second;
    again.SaveToStream(second, qz::sfBinary);
    if (second.Data() != first.Data()) std::abort();
    return 0;
}
