// The command line of klremote. A plain start takes no arguments at all.
#pragma once

#include <QString>
#include <QStringList>

struct AppOptions
{
    // -1: ask with the "Select Model" dialog; 0..2: open that family's panel at once.
    int family = -1;
    // Run against the in-process simulated instrument on the loopback interface.
    bool simulate = false;
    // Model text the simulated instrument reports; empty means the family's default.
    QString simModel;
    // Where the diagnostic log goes for this run; empty keeps the usual place.
    QString logDir;
    // "[ADDRESS:]PORT": share the screen in browsers from the start; empty: not at start.
    QString share;
    // A recording to play in the panel of the family it came from; no link is opened.
    QString replay;
    // --connect: connect at once to this instrument, for this run only (the stored settings
    // stay as they are). Method 0: no --connect; 1 TCP/IP, 2 USB, 3 TCP/IP over IPv6.
    int connectMethod = 0;
    QString connectHost;     // host name or address; for USB the ids "vvvv:pppp[,vvvv:pppp]"
    quint16 connectPort = 0; // 0: the instrument's own port
    // --start: start remote control once connected.
    bool start = false;
};

// Where --connect goes.
struct ConnectTarget
{
    int method = 0; // a ConnMethod as the session stores it; 0 for none
    QString host;
    quint16 port = 0;
};

// `address` as --connect takes it for `method` ("tcp", "tcp6", "usb", or empty: IPv6 when
// the address is an IPv6 one, else TCP/IP): ADDRESS[:PORT] with an IPv4 address or a host
// name, [IPV6]:PORT or a bare IPv6 address, or USB ids. False with `error` set otherwise.
bool ParseConnectTarget(const QString &address, const QString &method, ConnectTarget &target,
                        QString &error);

enum class ParseOutcome
{
    Run,
    Help,
    Version,
    Error
};

struct ParseResult
{
    ParseOutcome outcome = ParseOutcome::Run;
    // Help or version text for the operator, or the error message.
    QString text;
};

// `arguments` includes the program name first, as QCoreApplication::arguments() gives it.
ParseResult ParseAppOptions(const QStringList &arguments, AppOptions &options);

// True when the arguments ask only for help or the version: these are answered without
// opening a window, so they also work where no display is available.
bool WantsTextOnly(const QStringList &arguments);

// True when single-dash words ("-platform offscreen", "-style fusion") may be options of the
// window toolkit, which only it can take away: such a command line is judged after the
// application object exists. Otherwise a mistake is reported before any window or display
// is needed.
bool MayHoldToolkitOptions(const QStringList &arguments);
