// qev-demo-portal: serves the portal, game site, forum and static host of the demo realm on
// consecutive local ports until SIGINT or SIGTERM.
#include "demo_signing.h"
#include "portal_content.h"
#include "portal_options.h"
#include "portal_server.h"

#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    using namespace qev::portal;
    PortalOptions options;
    std::string error;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!ParsePortalOptions(args, options, error)) {
        std::fprintf(stderr, "qev-demo-portal: %s\n%s", error.c_str(), PortalUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(PortalUsage(), stdout);
        return 0;
    }
    std::error_code ec;
    if (!options.offerUpdateFile.empty() &&
        !std::filesystem::is_regular_file(options.offerUpdateFile, ec)) {
        std::fprintf(stderr, "qev-demo-portal: no such file: %s\n",
                     options.offerUpdateFile.c_str());
        return 2;
    }
    if (!options.secretKeyFile.empty() &&
        !std::filesystem::is_regular_file(options.secretKeyFile, ec)) {
        std::fprintf(stderr, "qev-demo-portal: no such file: %s\n", options.secretKeyFile.c_str());
        return 2;
    }
    if (!options.filesDir.empty() && !std::filesystem::is_directory(options.filesDir, ec)) {
        std::fprintf(stderr, "qev-demo-portal: no such folder: %s\n", options.filesDir.c_str());
        return 2;
    }
    // The statement is made once, before any port opens: a portal that cannot offer a signed
    // package does not start.
    std::optional<std::string> statement;
    if (!options.offerUpdateFile.empty()) {
        statement =
            OfferedStatement(options.offerUpdateFile, NextVersion({QEV_VERSION_MS, QEV_VERSION_LS}),
                             options.secretKeyFile, error);
        if (!statement) {
            std::fprintf(stderr, "qev-demo-portal: %s\n", error.c_str());
            return 2;
        }
    }

    // Every thread inherits this mask, so only sigwait below sees the stop signals; a client
    // that goes away mid-response must not end the process.
    // A shell starting the portal in the background hands it SIGINT ignored; take both
    // signals back so they stay pending for sigwait.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    DemoPortal portal(options, statement.value_or(""));
    if (!portal.Bind(error)) {
        std::fprintf(stderr, "qev-demo-portal: %s\n", error.c_str());
        return 1;
    }
    portal.Start();

    int received = 0;
    sigwait(&stopSignals, &received);
    std::printf("stopping (signal %d)\n", received);
    std::fflush(stdout);
    portal.Stop();
    return 0;
}
