#include "AppOptions.h"
#include "CRemoteApp.h"
#include "WholeScaleFactors.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

QStringList ArgumentsOf(int argc, char **argv)
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list << QString::fromLocal8Bit(argv[i]);
    return list;
}

int Print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    if (!bytes.endsWith('\n'))
        std::fputc('\n', stream);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    CRemoteApp::SetIdentity();

    const QStringList raw = ArgumentsOf(argc, argv);
    // Help, version and plain mistakes need no display.
    if (!WantsTextOnly(raw) && !MayHoldToolkitOptions(raw)) {
        AppOptions options;
        const ParseResult parsed = ParseAppOptions(raw, options);
        if (parsed.outcome == ParseOutcome::Error) {
            Print(stderr, QStringLiteral("klremote: ") + parsed.text +
                              QStringLiteral("\nTry 'klremote --help'."));
            return 2;
        }
    }
    if (WantsTextOnly(raw)) {
        QCoreApplication core(argc, argv);
        AppOptions options;
        const ParseResult parsed = ParseAppOptions(core.arguments(), options);
        if (parsed.outcome == ParseOutcome::Error) {
            Print(stderr, QStringLiteral("klremote: ") + parsed.text);
            return 2;
        }
        return Print(stdout, parsed.text);
    }

    KeepWholeScaleFactors();
    CRemoteApp app(argc, argv);

    AppOptions options;
    const ParseResult parsed = ParseAppOptions(app.arguments(), options);
    switch (parsed.outcome) {
    case ParseOutcome::Run:
        return app.Run(options);
    case ParseOutcome::Help:
    case ParseOutcome::Version:
        return Print(stdout, parsed.text);
    case ParseOutcome::Error:
        break;
    }
    Print(stderr,
          QStringLiteral("klremote: ") + parsed.text + QStringLiteral("\nTry 'klremote --help'."));
    return 2;
}
