// What the end-to-end tests share: connections to a meter on loopback, the listener that
// records what the threads tell the window, and a meter whose answers a test may spoil.
#pragma once

#include "connection/CcnConnectionList.h"
#include "exchange/monExchangeThreads.h"
#include "protocol/KavrenCommand.h"
#include "simulator/MeterResponder.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MeterConnection.h"
#include "tests/support/RecordingListener.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qz::test {

using Clock = std::chrono::steady_clock;

// A meter on loopback TCP that answers like the simulated one, except that a test may
// rewrite an answer's data field before it goes out (the frame is rebuilt around it, so its
// check byte stays right).
class TCraftedMeter {
public:
    using TSpoil = std::function<void(const TKavrenHeader& request, std::vector<uint8_t>& data)>;

    TCraftedMeter(int modelIndex, TSpoil spoil)
        : FResponder(modelIndex, 1, nullptr), FSpoil(std::move(spoil)),
          FServer([this](size_t index, const std::string& in, bool&) { return Serve(index, in); }) {
    }
    uint16_t Port() const { return FServer.Port(); }
    // Commands asked for so far, as Cmd * 256 + Cmd1.
    std::vector<int> Asked() const {
        std::lock_guard<std::mutex> lock(FMutex);
        return FAsked;
    }

private:
    std::string Serve(size_t index, const std::string& in) {
        std::lock_guard<std::mutex> lock(FMutex);
        auto& framer = FFramers.try_emplace(index, FResponder.Address(), FResponder.DeviceCode())
                           .first->second;
        framer.Push(reinterpret_cast<const uint8_t*>(in.data()), in.size());
        std::string out;
        std::vector<uint8_t> frame;
        while (framer.Next(frame)) {
            TKavrenHeader rq;
            if (!ReadKavrenHeader(frame.data(), frame.size(), rq)) continue;
            FAsked.push_back(rq.Cmd * 256 + rq.Cmd1);
            auto answer = FResponder.Answer(frame);
            if (!answer) continue;
            TKavrenHeader h;
            ReadKavrenHeader(answer->data(), answer->size(), h);
            std::vector<uint8_t> data(answer->begin() + kKavrenHeaderSize, answer->end() - 1);
            if (FSpoil) FSpoil(rq, data);
            const auto rebuilt = BuildKavrenFrame(h, data.data(), data.size());
            out.append(rebuilt.begin(), rebuilt.end());
        }
        return out;
    }

    TMeterResponder FResponder;
    TSpoil FSpoil;
    mutable std::mutex FMutex;
    std::map<size_t, TRequestFramer> FFramers;
    std::vector<int> FAsked;
    LoopbackServer FServer; // last: it calls Serve until it is gone
};

} // namespace qz::test
