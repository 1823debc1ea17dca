// qzsim: the meter simulator as a program.
#include "simulator/MeterSimulator.h"
#include "simulator/SimOptions.h"

#include "common/ProgramVersion.h"
#include "protocol/QZ2Models.h"

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
