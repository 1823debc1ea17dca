// The settings file parser against any bytes. Beyond surviving the input, the image must be
// stable: text written from a parsed image parses back to the same image.
#include "settings/HexText.h"
#include "settings/InMemoryIni.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qz::TInMemoryIni ini;
    ini.SetText(std::string(reinterpret_cast<const char*>(data), size));
    const std::string text = ini.GetText();

    qz::TInMemoryIni again;
    again.SetText(text);
    if (again.GetText() != text) std::abort();

    for (const std::string& section : ini.ReadSections()) {
        if (!ini.SectionExists(section)) std::abort();
        for (const std::string& key : ini.ReadSection(section)) {
            const std::string value = ini.ReadString(section, key, std::string());
            if (again.ReadString(section, key, "\x01") != value) std::abort();
            std::vector<uint8_t> bytes, back;
            if (qz::HexToBytes(value, bytes) &&
                (!qz::HexToBytes(qz::BytesToHex(bytes), back) || back != bytes))
                std::abort();
            int32_t n = 0;
            if (qz::ParseInteger(value, n) && ini.ReadInteger(section, key, n ^ 1) != n)
                std::abort();
        }
    }
    return 0;
}
