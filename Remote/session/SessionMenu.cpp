#include "SessionMenu.h"

SessionMenuStates MenuStatesFor(SessionState state, bool cancelling)
{
    SessionMenuStates m;
    const bool connected = IsLinkUp(state);
    m.qualityEnabled = connected;
    if (connected) {
        m.connect = {false, true};
    } else {
        m.disconnect = {false, true};
        m.start.enabled = false;
        m.stop.enabled = false;
    }
    if (IsStarted(state)) {
        m.start = {false, true};
        m.disconnect.enabled = false;
    } else {
        m.stop = {false, true};
        if (connected)
            m.connect.enabled = false;
        else
            m.disconnect.enabled = false;
    }
    if (state == SessionState::Connecting || state == SessionState::Replay || cancelling)
        m.connect.enabled = false;
    if (state == SessionState::Reconnecting) {
        // Disconnect gives up; nothing else applies to a link that is not there.
        m.connect.enabled = false;
        m.disconnect = {true, false};
        m.stop.enabled = false;
    }
    return m;
}
