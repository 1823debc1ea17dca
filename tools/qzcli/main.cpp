// qzcli: the monitor's exchange without a window.
#include "tools/qzcli/CliCollect.h"
#include "tools/qzcli/CliJournal.h"
#include "tools/qzcli/CliLocale.h"
#include "tools/qzcli/CliReport.h"
#include "tools/qzcli/CliRun.h"

#include "common/ProgramVersion.h"

#include <csignal>
#include <iostream>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

int main(int argc, char** argv) {
    using namespace qz;
    std::vector<std::string> args(argv + 1, argv + argc);
    // The commands that read a journal have arguments of their own.
    if (!args.empty() && IsJournalCommand(args[0]))
        return RunJournalCommand(args, std::cout, std::cerr,
                                 CsvOptionsOf(TCliLocale::FromEnvironment()));
    if (!args.empty() && IsReportCommand(args[0]))
        return RunReportCommand(args, std::cout, std::cerr,
                                CsvOptionsOf(TCliLocale::FromEnvironment()), CliPdfWriter());
    if (!args.empty() && args[0] == "collect") {
        // As for poll; a hang-up asks for the configuration to be read again.
        sigset_t set;
        sigemptyset(&set);
        for (int s : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&set, s);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        const int fd = signalfd(-1, &set, SFD_CLOEXEC);
        const int rc = RunCollect(args, std::cerr, fd);
        if (fd >= 0) close(fd);
        return rc;
    }
    TCliOptions options;
    std::string error;
    if (!ParseCliArgs(args, options, error)) {
        std::cerr << error << '\n';
        return 2;
    }
    switch (options.Command) {
    case TCliOptions::TCommand::Help:
        std::cout << CliHelpText() << CliJournalHelpText() << CliReportHelpText()
                  << CollectHelpText();
        return 0;
    case TCliOptions::TCommand::Version:
        std::cout << ProgramVersionText("qzcli");
        return 0;
    case TCliOptions::TCommand::Connections:
        return RunConnections(options, std::cout, std::cerr);
    case TCliOptions::TCommand::Poll: {
        // Ctrl-C and a termination request end the exchange cleanly: they are taken from a
        // descriptor, and every thread started from here on inherits the blocked mask.
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        const int stopFd = signalfd(-1, &set, SFD_CLOEXEC);
        const int rc = RunPoll(options, std::cout, std::cerr, stopFd);
        if (stopFd >= 0) close(stopFd);
        return rc;
    }
    default:
        std::cerr << CliHelpText();
        return 2;
    }
}
