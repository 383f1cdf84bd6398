// The one state of a remote session. Panels derive every menu item, pane and key from it.
#pragma once

enum class SessionState
{
    Disconnected, // no link
    Connecting,   // a connect is running in the background; only Cancel is offered
    Connected,    // link up, remote control stopped
    Started,      // remote control running, pictures arriving
    LinkLost,     // remote control running, but the instrument no longer answers
    Replay,       // a recording plays instead; no link is ever opened
    Reconnecting, // remote control running, the link closed and being opened again
};

// The link is up (Connect done, not yet Disconnect).
constexpr bool IsLinkUp(SessionState state)
{
    return state == SessionState::Connected || state == SessionState::Started ||
           state == SessionState::LinkLost;
}

// Remote control runs (Start done, not yet Stop). While reconnecting it still counts as
// running: the keys stay live (their presses are dropped) and Started follows by itself.
constexpr bool IsStarted(SessionState state)
{
    return state == SessionState::Started || state == SessionState::LinkLost ||
           state == SessionState::Reconnecting;
}
