// A real qzcli process beside the test: it polls its built-in simulated meter and records a
// journal, printing each record as a JSON line once it is committed. The test reads the lines
// through a pipe. Header-only, POSIX.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace qz::test {

class TRecordingQzcli {
public:
    // Starts `qzcli poll --demo --json --record journal` (its error stream to /dev/null).
    // Started() is false when the pipe or the fork failed.
    TRecordingQzcli(const char* qzcli, const std::string& journal) {
        int out[2];
        if (pipe(out) != 0) return;
        FPid = fork();
        if (FPid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 2);
            execl(qzcli, "qzcli", "poll", "--demo", "--json", "--record", journal.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        if (FPid < 0) {
            close(out[0]);
            return;
        }
        FOut = out[0];
    }
    ~TRecordingQzcli() {
        if (FPid > 0) Stop(SIGKILL);
        if (FOut >= 0) close(FOut);
    }
    TRecordingQzcli(const TRecordingQzcli&) = delete;
    TRecordingQzcli& operator=(const TRecordingQzcli&) = delete;

    bool Started() const { return FOut >= 0; }
    // Reads until `count` lines have come in all or the output ends; the lines read so far.
    size_t ReadLines(size_t count) {
        char buf[65536];
        while (Lines() < count) {
            const ssize_t n = read(FOut, buf, sizeof buf);
            if (n <= 0) break;
            Printed.append(buf, size_t(n));
        }
        return Lines();
    }
    size_t Lines() const { return size_t(std::count(Printed.begin(), Printed.end(), '\n')); }
    // Sends `sig` and waits for the process; its wait status.
    int Stop(int sig) {
        kill(FPid, sig);
        int status = 0;
        waitpid(FPid, &status, 0);
        FPid = -1;
        return status;
    }

    std::string Printed; // everything read from its output

private:
    pid_t FPid = -1;
    int FOut = -1;
};

} // namespace qz::test
