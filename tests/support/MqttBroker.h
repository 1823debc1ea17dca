// A mosquitto broker of a test's (or a benchmark's) own on a loopback port: its configuration,
// its saved sessions and its log in the caller's folder. Stopped with SIGTERM, as a service is,
// it saves its sessions, so a subscriber's persistent session and the messages queued for it
// outlive a restart. Header-only, POSIX.
#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/Eventually.h"
#include "tests/support/TcpListener.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <pwd.h>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace qz::test {

class TMqttBroker {
public:
    // `listenerOptions`: more lines for the listener (TLS files, a password file, no
    // anonymous clients); by default anyone may connect in the clear.
    TMqttBroker(std::string program, std::string folder, uint16_t port,
                const std::string& listenerOptions = "allow_anonymous true\n")
        : FProgram(std::move(program)), FFolder(std::move(folder)), FPort(port) {
        // Started by root, the broker would change to its own system user, which cannot
        // write into a private test folder: it would then keep no session across a restart
        // (and say so only in a log it cannot write either), and whatever came before the
        // subscriber had subscribed again would be dropped. It stays the user that runs it.
        const passwd* pw = getpwuid(geteuid());
        std::ofstream(FFolder + "/mosquitto.conf")
            << "listener " << port << " 127.0.0.1\n"
            << listenerOptions << "user " << (pw ? pw->pw_name : "root")
            << "\n"
            // Any number of messages waits for a subscriber away (the default of 1000 would
            // drop part of a backlog).
            << "max_queued_messages 0\npersistence true\npersistence_location " << FFolder
            << "/\nlog_dest file " << FFolder << "/mosquitto.log\n";
    }
    ~TMqttBroker() { Stop(); }
    TMqttBroker(const TMqttBroker&) = delete;
    TMqttBroker& operator=(const TMqttBroker&) = delete;

    // Starts it and waits until a client can connect; false when it did not within 10 s.
    bool Start() {
        FProcess = std::make_unique<TChildProcess>(
            FProgram, std::vector<std::string>{"-c", FFolder + "/mosquitto.conf"},
            FFolder + "/mosquitto.err");
        return Eventually([this] { return Accepts(); }, 10000);
    }
    // SIGTERM, waited for. True when the broker saved its sessions.
    bool Stop() {
        if (!FProcess) return false;
        FProcess->Stop(SIGTERM);
        FProcess.reset();
        struct stat st;
        return stat((FFolder + "/mosquitto.db").c_str(), &st) == 0 && st.st_size > 0;
    }
    uint16_t Port() const { return FPort; }
    // What the broker said of itself (its log and error stream), for a failure's message.
    std::string Said() const {
        std::string text;
        for (const char* name : {"/mosquitto.log", "/mosquitto.err"}) {
            std::ifstream in(FFolder + name);
            text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return text;
    }

private:
    bool Accepts() const {
        const int s = LoopbackConnect(FPort);
        if (s >= 0) close(s);
        return s >= 0;
    }

    std::string FProgram, FFolder;
    uint16_t FPort;
    std::unique_ptr<TChildProcess> FProcess;
};

} // namespace qz::test
