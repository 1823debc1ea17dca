// qzcli's poll command for a meter on loopback TCP, as the engineer types it:
// `qzcli poll --model MODEL --factory 1 --tcp 127.0.0.1:PORT`. Header-only, for the tests that
// link the qzcli library already.
#pragma once

#include "tools/qzcli/CliOptions.h"

#include <cstdint>
#include <string>

namespace qz::test {

inline TCliOptions TcpPollOptions(const std::string& model, uint16_t port) {
    TCliOptions o;
    o.Command = TCliOptions::TCommand::Poll;
    o.Model = model;
    o.Factory = 1;
    o.TcpHost = "127.0.0.1";
    o.TcpPort = port;
    return o;
}

} // namespace qz::test
