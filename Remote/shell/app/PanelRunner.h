// Constructs the front-panel window of a family and runs it modally, optionally against an
// in-process simulated instrument.
#pragma once

#include "AppOptions.h"

// Returns when the panel window has closed; the result is the process exit code.
int RunPanel(int family, const AppOptions &options);

// Plays the recording options.replay in the panel of the family it was made with; returns
// when that window has closed (1 when the recording cannot be played, which is shown).
int RunReplay(const AppOptions &options);
