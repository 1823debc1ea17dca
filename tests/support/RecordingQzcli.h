// A real qzcli process beside the test: it polls its built-in simulated meter and records a
// journal, printing each record as a JSON line once it is committed. The test reads the lines
// through a pipe. Header-only, POSIX.
#pragma once

#include "tests/support/ChildProcess.h"

#include <algorithm>
#include <csignal>
#include <string>

namespace qz::test {

class TRecordingQzcli {
public:
    // Starts `qzcli poll --demo --json --record journal` (its error stream to /dev/null).
    // Started() is false when the pipe or the fork failed.
    TRecordingQzcli(const char* qzcli, const std::string& journal)
        : FProcess(qzcli, {"poll", "--demo", "--json", "--record", journal}) {}

    bool Started() const { return FProcess.Started(); }
    // Reads until `count` lines have come in all, the process was stopped or a minute went
    // by; the lines read so far.
    size_t ReadLines(size_t count) {
        if (!FStopped) FProcess.WaitLines(count, 60000);
        Printed = FProcess.Output();
        return Lines();
    }
    size_t Lines() const { return size_t(std::count(Printed.begin(), Printed.end(), '\n')); }
    // Sends `sig` and waits for the process; its wait status.
    int Stop(int sig) {
        FStopped = true;
        return FProcess.Stop(sig);
    }

    std::string Printed; // everything read from its output

private:
    TChildProcess FProcess;
    bool FStopped = false;
};

} // namespace qz::test
