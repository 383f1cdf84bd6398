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
};

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
