// The connection-list reader against any bytes in the text form. A list that loads must save
// to a text form that loads back, and after one such reload the list is a fixed point: empty
// strings are not stored, so they come back once as their defaults and never change again.
// The text-to-binary conversion of any input either fails with the format error or yields a
// binary form the generic converter can turn back into text.
#include "connection/CcnConnectionList.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string Save(const qz::TccnConnectionList& list, qz::TStreamFormat format) {
    qz::TccnMemoryStream s;
    list.SaveToStream(s, format);
    return s.Data();
}

// The saved text loads again (or the run aborts) into `list`.
void Reload(const std::string& text, qz::TccnConnectionList& list) {
    qz::TccnMemoryStream in(text);
    if (!list.TryLoadFromStream(in, qz::sfText)) std::abort();
}

} // namespace

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
    qz::TccnConnectionList once, twice;
    Reload(Save(list, qz::sfText), once);
    const std::string savedOnce = Save(once, qz::sfText);
    Reload(savedOnce, twice);
    if (Save(twice, qz::sfText) != savedOnce) std::abort();
    if (Save(twice, qz::sfBinary) != Save(once, qz::sfBinary)) std::abort();
    return 0;
}
