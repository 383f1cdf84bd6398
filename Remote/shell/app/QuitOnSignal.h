// Ends the program in order when the session manager or a terminal asks it to (SIGTERM,
// SIGINT, SIGHUP): the open windows are closed as by their close boxes, so the panel tears
// its session down and the log is complete. A second signal ends the process at once.
#pragma once

#include <functional>

class QObject;

// `closeAll` runs on the window thread. Installs nothing where there are no such signals.
void QuitOnSignal(QObject *owner, std::function<void()> closeAll);
