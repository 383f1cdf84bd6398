#include "AppOptions.h"

#include "ConnMethod.h"
#include "Families.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QRegularExpression>
#if defined(KLR_HAVE_SHARE)
#include "ShareHttp.h"
#endif

#include <algorithm>

namespace {

constexpr const char *kSimulate = "simulate";
constexpr const char *kFamily = "family";
constexpr const char *kLogDir = "log-dir";
constexpr const char *kConnect = "connect";
constexpr const char *kMethod = "method";
constexpr const char *kStart = "start";
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
    parser.addOption(QCommandLineOption(
        QStringList{QString::fromLatin1(kConnect)},
        QStringLiteral("Open the panel and connect at once, without changing the stored "
                       "connection settings. ADDRESS is an IPv4 address or host name, "
                       "optionally with :PORT, an IPv6 address ([ADDRESS]:PORT with a port), "
                       "or with --method usb the USB id vvvv:pppp."),
        QStringLiteral("ADDRESS")));
    parser.addOption(QCommandLineOption(
        QStringList{QString::fromLatin1(kMethod)},
        QStringLiteral("How --connect reaches the instrument: tcp, tcp6 or usb (by default "
                       "tcp6 for an IPv6 address, else tcp)."),
        QStringLiteral("METHOD")));
    parser.addOption(QCommandLineOption(
        QStringList{QString::fromLatin1(kStart)},
        QStringLiteral("With --connect: also start remote control once connected.")));
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

bool ParsePort(const QString &text, quint16 &port)
{
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    if (!ok || value < 1 || value > 65535 || text.size() > 5 ||
        !std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isDigit(); }))
        return false;
    port = static_cast<quint16>(value);
    return true;
}

bool IsAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Four decimal parts of 0 to 255.
bool IsIPv4(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3 ||
            !std::all_of(part.cbegin(), part.cend(), IsAsciiDigit) || part.toInt() > 255)
            return false;
    }
    return true;
}

// Labels of letters, digits and inner hyphens, 63 at most each, 253 in all; a name of
// digits and dots only is an IPv4 address or nothing.
bool IsHostName(const QString &text)
{
    if (text.isEmpty() || text.size() > 253)
        return false;
    if (std::all_of(text.cbegin(), text.cend(),
                    [](QChar c) { return IsAsciiDigit(c) || c == QLatin1Char('.'); }))
        return IsIPv4(text);
    QString name = text;
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    for (const QString &label : name.split(QLatin1Char('.'))) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(QLatin1Char('-')) ||
            label.endsWith(QLatin1Char('-')))
            return false;
        for (const QChar c : label) {
            const bool letter = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                                (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
            if (!letter && !IsAsciiDigit(c) && c != QLatin1Char('-'))
                return false;
        }
    }
    return true;
}

bool IsIPv6(const QString &text)
{
    QHostAddress address;
    return text.contains(QLatin1Char(':')) && address.setAddress(text) &&
           address.protocol() == QAbstractSocket::IPv6Protocol;
}

bool IsUsbIds(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^[0-9A-Fa-f]{4}:[0-9A-Fa-f]{4}(,[0-9A-Fa-f]{4}:[0-9A-Fa-f]{4})*$"));
    return pattern.match(text).hasMatch();
}

// HOST or HOST:PORT, where HOST is no IPv6 address; false when PORT is there but bad.
bool SplitPort(const QString &text, QString &host, quint16 &port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) {
        host = text;
        return true;
    }
    host = text.left(colon);
    return ParsePort(text.mid(colon + 1), port);
}

} // namespace

bool ParseConnectTarget(const QString &address, const QString &method, ConnectTarget &target,
                        QString &error)
{
    target = ConnectTarget{};
    const QString quoted = QLatin1Char('\'') + address + QLatin1Char('\'');
    const bool bracketed = address.startsWith(QLatin1Char('['));
    const bool looksIPv6 = bracketed || address.count(QLatin1Char(':')) > 1;
    if (method == QLatin1String("usb")) {
        if (!IsUsbIds(address)) {
            error = QStringLiteral("--connect: %1 is no USB id (vvvv:pppp, hexadecimal) for "
                                   "--method usb.")
                        .arg(quoted);
            return false;
        }
        target.method = int(ConnMethod::Usb);
        target.host = address;
        return true;
    }
    if (method == QLatin1String("tcp6") || (method.isEmpty() && looksIPv6)) {
        target.method = int(ConnMethod::TcpIPv6);
        if (bracketed) {
            const qsizetype close = address.indexOf(QLatin1Char(']'));
            const QString rest = close < 0 ? QString() : address.mid(close + 1);
            target.host = close < 0 ? QString() : address.mid(1, close - 1);
            const bool portOk = rest.isEmpty() || (rest.startsWith(QLatin1Char(':')) &&
                                                   ParsePort(rest.mid(1), target.port));
            if (close < 0 || !IsIPv6(target.host) || !portOk) {
                error = QStringLiteral("--connect: %1 is not [IPv6 address]:PORT.").arg(quoted);
                return false;
            }
            return true;
        }
        if (IsIPv6(address)) {
            target.host = address;
            return true;
        }
        if (SplitPort(address, target.host, target.port) && IsHostName(target.host) &&
            !IsIPv4(target.host))
            return true;
        error = QStringLiteral("--connect: %1 is not an IPv6 address or host name.").arg(quoted);
        return false;
    }
    if (!method.isEmpty() && method != QLatin1String("tcp")) {
        error = QStringLiteral("--method takes tcp, tcp6 or usb, not '%1'.").arg(method);
        return false;
    }
    target.method = int(ConnMethod::TcpIPv4);
    if (looksIPv6 || !SplitPort(address, target.host, target.port) || !IsHostName(target.host)) {
        error = QStringLiteral("--connect: %1 is not an IPv4 address or host name "
                               "(ADDRESS or ADDRESS:PORT).")
                    .arg(quoted);
        return false;
    }
    return true;
}

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

    const bool connect = parser.isSet(QString::fromLatin1(kConnect));
    if (connect) {
        const QStringList values = parser.values(QString::fromLatin1(kConnect));
        const QStringList methods = parser.values(QString::fromLatin1(kMethod));
        ConnectTarget target;
        QString error;
        if (values.size() != 1 || methods.size() > 1) {
            error = QStringLiteral("--connect and --method are given once at most.");
        } else if (options.simulate) {
            error = QStringLiteral("--connect and --simulate cannot be used together.");
        } else if (ParseConnectTarget(values.constFirst(),
                                      methods.isEmpty() ? QString() : methods.constFirst(), target,
                                      error)) {
            options.connectMethod = target.method;
            options.connectHost = target.host;
            options.connectPort = target.port;
            options.start = parser.isSet(QString::fromLatin1(kStart));
        }
        if (!error.isEmpty()) {
            result.outcome = ParseOutcome::Error;
            result.text = error;
            return result;
        }
    } else if (parser.isSet(QString::fromLatin1(kMethod)) ||
               parser.isSet(QString::fromLatin1(kStart))) {
        result.outcome = ParseOutcome::Error;
        result.text = QStringLiteral("--method and --start need --connect.");
        return result;
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
        if (options.simulate || options.family >= 0 || options.connectMethod != 0) {
            result.outcome = ParseOutcome::Error;
            result.text =
                QStringLiteral("--replay goes without --simulate, --family and --connect.");
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
