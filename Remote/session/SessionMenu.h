// The session items of the right-click menu as the state sets them: gray and check marks in
// the order the menu has always set them, derived from the one session state.
#pragma once

#include "SessionState.h"

struct MenuItemState
{
    bool enabled = true;
    bool checked = false;
};

struct SessionMenuStates
{
    MenuItemState connect, disconnect, start, stop;
    bool qualityEnabled = false;
};

// While a connect runs (or an abandoned one winds down) the session counts as Disconnected
// with Connect grayed too: only Cancel, in the status bar, is offered then. While
// reconnecting only Disconnect is offered, to give up. A replay offers no session item at all.
SessionMenuStates MenuStatesFor(SessionState state, bool cancelling);
