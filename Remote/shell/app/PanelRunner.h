// Constructs the front-panel window of a family and runs it modally, optionally against an
// in-process simulated instrument.
#pragma once

#include "AppOptions.h"

// Returns when the panel window has closed; the result is the process exit code.
int RunPanel(int family, const AppOptions &options);
