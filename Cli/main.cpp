// klremote-cli: scripts' access to an instrument over the same link as the panels.
#include "CliRunner.h"

#include "Diagnostic.h"

#include <QGuiApplication>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

// Standard output carries results only; Qt's chatter is not for scripts.
void QuietQtMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::cerr << message.toStdString() << std::endl;
}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    qInstallMessageHandler(QuietQtMessages);
    klr::SetDiagnosticSink([](std::string_view text) { std::cerr << text; });

    std::vector<std::string> args(argv + 1, argv + argc);
    // The simulated instrument draws text, which needs a GUI application (never a display).
    std::unique_ptr<QGuiApplication> app;
    for (const std::string &arg : args) {
        if (arg.starts_with("--usb-sim")) {
            if (!std::getenv("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            app = std::make_unique<QGuiApplication>(argc, argv);
            break;
        }
    }
    return RunCli(args, std::cout, std::cerr);
}
