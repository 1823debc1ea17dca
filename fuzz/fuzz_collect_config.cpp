// The collector's configuration file and its durable mark from arbitrary bytes: parsing must
// never crash, and a refusal always says why.
#include "collector/colMark.h"
#include "tools/qzcli/CliCollect.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    qz::TCollectConfig config;
    std::string error;
    if (!qz::ParseCollectConfig(text, config, error) && error.empty()) __builtin_trap();
    qz::TcolMark mark;
    qz::ParseMarkText(text, mark);
    return 0;
}
