// qzsim: the meter simulator as a program.
#ifdef QZ_WITH_JOURNAL
#include "journal/jnReplay.h"
#endif
#include "simulator/MeterSimulator.h"
#include "simulator/SimOptions.h"

#include "common/ProgramVersion.h"
#include "protocol/QZ2Models.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <semaphore.h>

namespace {
sem_t gStop;
void OnSignal(int) {
    sem_post(&gStop);
}
} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    qz::TSimOptions opt;
    bool help = false, version = false;
    std::string error;
    if (!qz::ParseSimArgs(args, opt, help, error, &version)) {
        std::fprintf(stderr, "qzsim: %s\n(see qzsim --help)\n", error.c_str());
        return 2;
    }
    if (help) {
        std::fputs(qz::SimHelpText().c_str(), stdout);
        return 0;
    }
    if (version) {
        std::fputs(qz::ProgramVersionText("qzsim").c_str(), stdout);
        return 0;
    }
#ifdef QZ_WITH_JOURNAL
    if (!opt.ReplayFile.empty()) {
        // The recorded meter: its model, its address and its answers, on a clock that starts
        // where the recording does.
        auto replay = std::make_shared<qz::TjnReplay>();
        if (!replay->Open(opt.ReplayFile, error)) {
            std::fprintf(stderr, "qzsim: %s\n", error.c_str());
            return 1;
        }
        opt.ModelIndex = replay->Meter().ModelIndex;
        opt.Address = static_cast<uint16_t>(replay->Meter().Address);
        const qz::TDateTime start = replay->StartTime();
        const double speed = opt.Speed;
        const auto t0 = std::chrono::steady_clock::now();
        opt.Clock = [start, speed, t0] {
            const std::chrono::duration<double> real = std::chrono::steady_clock::now() - t0;
            return start + real.count() * speed / 86400.0;
        };
        opt.Replay = replay;
    }
#else
    if (!opt.ReplayFile.empty()) {
        std::fprintf(stderr, "qzsim: built without the journal: --replay is not available\n");
        return 2;
    }
#endif
    sem_init(&gStop, 0, 0);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    qz::TMeterSimulator sim(opt);
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "qzsim: %s\n", error.c_str());
        return 1;
    }
    const qz::TQZ2ModelInfo& m = qz::QZ2Model(opt.ModelIndex);
    if (opt.Replay)
        std::printf("qzsim: replaying %s at speed %g\n", opt.ReplayFile.c_str(), opt.Speed);
    if (opt.PtyLink.empty())
        std::printf("qzsim: model %s, address %u, listening on %s:%u\n", m.CmdLineName, opt.Address,
                    opt.ListenHost.c_str(), sim.port());
    else
        std::printf("qzsim: model %s, address %u, serving %s (%s)\n", m.CmdLineName, opt.Address,
                    opt.PtyLink.c_str(), sim.PtyPath().c_str());
    std::fflush(stdout);
    while (sem_wait(&gStop) != 0) {
    }
    sim.Stop();
    return 0;
}
