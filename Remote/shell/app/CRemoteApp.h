// The application object: the start-up sequence from the choice of family to the end of
// the one front-panel window.
#pragma once

#include "AppOptions.h"

#include <QApplication>

class CRemoteApp : public QApplication
{
    Q_OBJECT
public:
    CRemoteApp(int &argc, char **argv);

    // Names under which the preference store and the per-user folders are found. Must be
    // in place before any QSettings or QStandardPaths use.
    static void SetIdentity();

    // Runs the start-up sequence; returns the process exit code.
    int Run(const AppOptions &options);
};
