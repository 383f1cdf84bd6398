#include "AppOptions.h"

#include "Families.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#if defined(KLR_HAVE_SHARE)
#include "ShareHttp.h"
#endif

#include <algorithm>

namespace {

constexpr const char *kSimulate = "simulate";
constexpr const char *kFamily = "family";
constexpr const char *kLogDir = "log-dir";
constexpr const char *kShare = "share";
constexpr const char *kReplay = "replay";

// QCommandLineParser has no optional option values: a bare "--simulate" is rewritten to
// "--simulate=" so that it never swallows the argument after it ("--simulate --family 1").
QStringList WithExplicitSimulateValue(const QStringList &arguments)
{
    QStringList out = arguments;
    for (int i = 1; i < out.size(); ++i) {
        if (out[i] == QLatin1String("--"))
            break;
        if (out[i] == QLatin1String("--simulate") || out[i] == QLatin1String("-simulate"))
            out[i] = QStringLiteral("--simulate=");
    }
    return out;
}

void DescribeOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Remote front panel for handheld spectrum and cable-and-antenna analysers.\n"
                       "Without options the instrument family is asked for at start."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(
        QStringList{QString::fromLatin1(kSimulate)},
        QStringLiteral("Start a simulated instrument on 127.0.0.1 and connect to it at once "
                       "(the stored connection settings are not changed). MODEL is the model "
                       "it reports, by default one of the chosen family. "
                       "Use --simulate or --simulate=MODEL."),
        QStringLiteral("MODEL")));
    parser.addOption(QCommandLineOption(
        QStringList{QString::fromLatin1(kFamily)},
        QStringLiteral("Open the panel of this family without asking: 0 = 510A/B, 560A/B "
                       "Series, 1 = 530C Series, 2 = MW5000 Series."),
        QStringLiteral("N")));
#if defined(KLR_HAVE_SHARE)
    parser.addOption(QCommandLineOption(
        QStringList{QString::fromLatin1(kShare)},
        QStringLiteral("Show the instrument's screen in web browsers at once: listen on PORT "
                       "of ADDRESS (127.0.0.1 unless given; 0.0.0.0 for every network). "
                       "Control from the browser stays off until allowed in Share in Browser."),
        QStringLiteral("[ADDRESS:]PORT")));
#endif
    parser.addOption(QCommandLineOption(
        QStringList{QString::fromLatin1(kReplay)},
        QStringLiteral("Play the recording FILE (.mkv) in the panel of the instrument family it "
                       "was made with; no instrument is connected."),
        QStringLiteral("FILE")));
    QCommandLineOption logDir(QStringList{QString::fromLatin1(kLogDir)},
                              QStringLiteral("Write the diagnostic log into DIR."),
                              QStringLiteral("DIR"));
    logDir.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(logDir);
}

QString VersionText()
{
    QString name = QCoreApplication::applicationName();
    if (name.isEmpty())
        name = QStringLiteral("KLRemote");
    QString version = QCoreApplication::applicationVersion();
    if (version.isEmpty())
        version = QStringLiteral(KLR_VERSION);
    return name + QLatin1Char(' ') + version + QLatin1Char('\n');
}

} // namespace

bool WantsTextOnly(const QStringList &arguments)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--"))
            break;
        if (a == QLatin1String("-h") || a == QLatin1String("--help") ||
            a == QLatin1String("-help") || a == QLatin1String("-?") ||
            a == QLatin1String("--help-all") || a == QLatin1String("-v") ||
            a == QLatin1String("--version") || a == QLatin1String("-version"))
            return true;
    }
    return false;
}

bool MayHoldToolkitOptions(const QStringList &arguments)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--"))
            break;
        if (a.size() > 2 && a.startsWith(QLatin1Char('-')) && !a.startsWith(QLatin1String("--")))
            return true;
    }
    return false;
}

ParseResult ParseAppOptions(const QStringList &arguments, AppOptions &options)
{
    options = AppOptions{};
    QCommandLineParser parser;
    DescribeOptions(parser);

    ParseResult result;
    if (!parser.parse(WithExplicitSimulateValue(arguments))) {
        result.outcome = ParseOutcome::Error;
        result.text = parser.errorText();
        return result;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        result.outcome = ParseOutcome::Help;
        result.text = parser.helpText();
        return result;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        result.outcome = ParseOutcome::Version;
        result.text = VersionText();
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.outcome = ParseOutcome::Error;
        result.text = QStringLiteral("Unexpected argument '%1'.")
                          .arg(parser.positionalArguments().constFirst());
        return result;
    }

    if (parser.isSet(QString::fromLatin1(kFamily))) {
        const QStringList values = parser.values(QString::fromLatin1(kFamily));
        bool ok = false;
        const QString text = values.constLast().trimmed();
        const int family = text.toInt(&ok, 10);
        if (values.size() != 1 || !ok || !IsValidFamily(family) || text.size() != 1) {
            result.outcome = ParseOutcome::Error;
            result.text = QStringLiteral("--family takes 0, 1 or 2, not '%1'.")
                              .arg(values.join(QLatin1Char(' ')));
            return result;
        }
        options.family = family;
    }

    if (parser.isSet(QString::fromLatin1(kSimulate))) {
        options.simulate = true;
        options.simModel = parser.values(QString::fromLatin1(kSimulate)).constLast().trimmed();
        // Model names are short identifiers; anything longer is a typing slip.
        constexpr int kMaxModelChars = 31;
        const bool printable =
            std::all_of(options.simModel.cbegin(), options.simModel.cend(),
                        [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7F; });
        if (options.simModel.size() > kMaxModelChars || !printable) {
            result.outcome = ParseOutcome::Error;
            result.text = QStringLiteral("--simulate takes a model name of at most %1 printable "
                                         "characters without spaces.")
                              .arg(kMaxModelChars);
            return result;
        }
    }

#if defined(KLR_HAVE_SHARE)
    if (parser.isSet(QString::fromLatin1(kShare))) {
        options.share = parser.values(QString::fromLatin1(kShare)).constLast();
        QHostAddress address;
        quint16 port = 0;
        QString error;
        if (!share::ParseListen(options.share, address, port, error)) {
            result.outcome = ParseOutcome::Error;
            result.text = QStringLiteral("--share takes [ADDRESS:]PORT: %1.").arg(error);
            return result;
        }
    }
#endif
    if (parser.isSet(QString::fromLatin1(kReplay))) {
        const QStringList values = parser.values(QString::fromLatin1(kReplay));
        options.replay = values.constLast();
        if (values.size() != 1 || options.replay.isEmpty()) {
            result.outcome = ParseOutcome::Error;
            result.text = QStringLiteral("--replay takes one recording FILE.");
            return result;
        }
        // The recording names its family, and a replay talks to no instrument.
        if (options.simulate || options.family >= 0) {
            result.outcome = ParseOutcome::Error;
            result.text = QStringLiteral("--replay goes without --simulate and --family.");
            return result;
        }
    }

    if (parser.isSet(QString::fromLatin1(kLogDir))) {
        options.logDir = parser.value(QString::fromLatin1(kLogDir));
        if (options.logDir.isEmpty()) {
            result.outcome = ParseOutcome::Error;
            result.text = QStringLiteral("--log-dir needs a folder.");
            return result;
        }
    }
    return result;
}
