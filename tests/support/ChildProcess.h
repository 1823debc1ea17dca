// A program run beside the test as the user runs it (qzsim, qzcli): its output read through
// a pipe, its error stream kept in a file, stopped by a signal and waited for. Header-only,
// POSIX.
#pragma once

#include "protocol/KavrenCommand.h"
#include "tests/support/Eventually.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qz::test {

class TChildProcess {
public:
    // Starts `program` with `args`; its error stream goes to `errFile` (/dev/null when
    // empty). Started() is false when the pipe or the fork failed.
    TChildProcess(const std::string& program, const std::vector<std::string>& args,
                  const std::string& errFile = {})
        : FErrFile(errFile) {
        int out[2];
        if (pipe(out) != 0) return;
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        FPid = fork();
        if (FPid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            const int err =
                open(errFile.empty() ? "/dev/null" : errFile.c_str(), O_WRONLY | O_CREAT, 0644);
            dup2(err, 2);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        if (FPid < 0) {
            close(out[0]);
            return;
        }
        FOut = out[0];
        fcntl(FOut, F_SETFL, O_NONBLOCK);
    }
    ~TChildProcess() {
        if (FPid > 0) Stop(SIGKILL);
        if (FOut >= 0) close(FOut);
    }
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    bool Started() const { return FOut >= 0; }
    pid_t Pid() const { return FPid; }

    // Reads what the program has printed so far (without waiting).
    const std::string& Output() {
        char buf[65536];
        for (;;) {
            const ssize_t n = read(FOut, buf, sizeof buf);
            if (n <= 0) break;
            FPrinted.append(buf, size_t(n));
        }
        return FPrinted;
    }
    size_t Lines() {
        const std::string& s = Output();
        return size_t(std::count(s.begin(), s.end(), '\n'));
    }
    // Waits up to `ms` until the output has `count` lines; says whether it has.
    bool WaitLines(size_t count, int ms) {
        return Eventually([&] { return Lines() >= count; }, ms);
    }
    // The error stream so far.
    std::string Errors() const {
        std::ifstream in(FErrFile);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Sends `sig` and waits for the process; its wait status.
    int Stop(int sig) {
        if (FPid <= 0) return -1;
        kill(FPid, sig);
        int status = 0;
        waitpid(FPid, &status, 0);
        FPid = -1;
        Output();
        return status;
    }

private:
    std::string FErrFile;
    std::string FPrinted;
    pid_t FPid = -1;
    int FOut = -1;
};

// A qzsim process; Port() is the TCP port it printed once it listens (0 until then or when
// it failed).
class TQzsimProcess {
public:
    TQzsimProcess(const std::string& qzsim, std::vector<std::string> args) : FProcess(qzsim, args) {
        if (!FProcess.WaitLines(1, 10000)) return;
        const std::string& s = FProcess.Output();
        const size_t colon = s.rfind(':', s.find('\n'));
        if (colon != std::string::npos) FPort = uint16_t(std::stoi(s.substr(colon + 1)));
    }
    uint16_t Port() const { return FPort; }
    // Ends it at once, as a meter that loses its power or its network.
    void Kill() { FProcess.Stop(SIGKILL); }

private:
    TChildProcess FProcess;
    uint16_t FPort = 0;
};

// The requests in a qzsim log (--log FILE): connection number, Cmd * 256 + Cmd1 and the time
// (seconds from the log's first midnight, so that it grows past one) of each request
// addressed to the meter, in order.
struct TSimLogRequest {
    unsigned Connection;
    int Command;
    double Seconds;
};
inline std::vector<TSimLogRequest> SimLogRequests(const std::string& logFile) {
    std::vector<TSimLogRequest> out;
    std::ifstream in(logFile);
    std::string line;
    while (std::getline(in, line)) {
        // "HH:MM:SS.mmm #N <- 00 0F 01 ...": the request frame in hexadecimal.
        const size_t hash = line.find(" #"), arrow = line.find(" <- ");
        if (hash == std::string::npos || arrow == std::string::npos) continue;
        std::istringstream bytes(line.substr(arrow + 4));
        std::vector<uint8_t> frame;
        std::string hex;
        while (bytes >> hex)
            frame.push_back(uint8_t(std::stoi(hex, nullptr, 16)));
        TKavrenHeader h;
        if (!ReadKavrenHeader(frame.data(), frame.size(), h)) continue;
        double seconds = std::stoi(line.substr(0, 2)) * 3600 + std::stoi(line.substr(3, 2)) * 60 +
                         std::stod(line.substr(6, 6));
        if (!out.empty()) seconds += std::floor(out.back().Seconds / 86400) * 86400;
        if (!out.empty() && seconds < out.back().Seconds - 43200) seconds += 86400;
        out.push_back({unsigned(std::stoul(line.substr(hash + 2))), h.Cmd * 256 + h.Cmd1, seconds});
    }
    return out;
}

} // namespace qz::test
