// klremote-cli: scripts' access to an instrument over the same link as the panels.
#include "CliQtParts.h"
#include "CliRunner.h"

#include "Diagnostic.h"
#include "Networking.h"

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // Link diagnostics would otherwise mix with the results on standard output.
    klr::SetDiagnosticSink([](std::string_view text) { std::cerr << text; });
    if (!klr::net::StartNetworking()) {
        std::cerr << "error: networking could not be started" << std::endl;
        return 1;
    }
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::shared_ptr<void> qt = StartCliQt(argc, argv, args);
    const int status = RunCli(args, std::cout, std::cerr);
    klr::net::StopNetworking();
    return status;
}
