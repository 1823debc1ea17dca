// The connection-list reader against any bytes in the text form. A list that loads must
// save to a text form that loads back to the same list; the text-to-binary conversion of
// any input either fails with the format error or yields a binary form the generic
// converter can turn back into text.
#include "connection/CcnConnectionList.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        size_t pos = 0;
        const std::string binary = qz::ObjectTextToBinary(text, pos);
        if (pos > text.size()) std::abort();
        size_t bpos = 0;
        qz::ObjectBinaryToText(binary, bpos);
        if (bpos != binary.size()) std::abort();
    } catch (const qz::EccnStreamError&) {
    }

    qz::TccnConnectionList list;
    qz::TccnMemoryStream in(text);
    if (!list.TryLoadFromStream(in, qz::sfText)) {
        if (list.Count() != 0) std::abort();
        return 0;
    }
    qz::TccnMemoryStream saved;
    list.SaveToStream(saved, qz::sfText);
    saved.SetPosition(0);
    qz::TccnConnectionList again;
    if (!again.TryLoadFromStream(saved, qz::sfText)) std::abort();
    qz::TccnMemoryStream a, b;
    list.SaveToStream(a, qz::sfBinary);
    again.SaveToStream(b, qz::sfBinary);
    if (a.Data() != b.Data()) std::abort();
    return 0;
}
