// Command lines of qzcli and qzsim from arbitrary bytes: arguments are the NUL-separated
// pieces of the input. Parsing must never crash, whatever it is given.
#include "simulator/SimOptions.h"
#include "tools/qzcli/CliOptions.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args;
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += char(data[i]);
        }
    }
    args.push_back(current);
    qz::TCliOptions cli;
    std::string error;
    if (!qz::ParseCliArgs(args, cli, error) && error.empty()) __builtin_trap();
    qz::TSimOptions sim;
    bool help = false;
    qz::ParseSimArgs(args, sim, help, error);
    return 0;
}
