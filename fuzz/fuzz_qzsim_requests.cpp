// Arbitrary bytes on the simulated meter's line: the request framer cuts them into frames in
// pieces of arbitrary size, and the meter answers every frame it accepts.
#include "simulator/MeterResponder.h"

#include "protocol/KavrenCommand.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {
qz::TDateTime FixedClock() {
    return 46000.5;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte picks the model and the piece size.
    const int model = data[0] % 6;
    const size_t piece = 1 + (data[0] >> 3);
    static const qz::TMeterResponder* responders[6] = {};
    if (!responders[model]) responders[model] = new qz::TMeterResponder(model, 1, &FixedClock);
    const qz::TMeterResponder& r = *responders[model];

    qz::TRequestFramer framer(size % 2 ? 1 : -1, -1);
    std::vector<uint8_t> frame;
    for (size_t at = 1; at < size; at += piece) {
        const size_t n = at + piece <= size ? piece : size - at;
        framer.Push(data + at, n);
        while (framer.Next(frame)) {
            if (!qz::KavrenFrameCheckOk(frame.data(), frame.size())) __builtin_trap();
            auto answer = r.Answer(frame);
            if (answer && !qz::KavrenFrameCheckOk(answer->data(), answer->size())) __builtin_trap();
        }
    }
    // Nothing that can no longer become a frame is kept beyond one frame's worth.
    if (framer.Pending() > qz::TRequestFramer::kMaxRequestData + qz::kKavrenFrameOverhead)
        __builtin_trap();
    return 0;
}
