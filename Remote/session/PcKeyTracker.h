// Which PC key events stand for panel key presses. A key-up counts only when this panel saw
// its key-down (not the Esc that closed a menu, not the Enter that confirmed a dialog), and a
// held key repeats nothing. The window system reports a held key as release-press pairs
// marked as repeats; a pair so marked within the shortest repeat delay comes from fast
// typing, not from a held key, and counts as a release and a press.
#pragma once

#include <map>

class PcKeyTracker
{
public:
    enum class Action
    {
        Ignore,  // consumed, nothing happens
        Press,   // show the key held
        Release, // show it released and send its command
    };

    // No keyboard repeats sooner than this after its key-down.
    static constexpr unsigned long kShortestRepeatDelayMs = 150;

    Action OnKey(int key, bool press, bool autoRepeat, unsigned long timestampMs);
    void Clear() { m_held.clear(); }

private:
    std::map<int, unsigned long> m_held; // key -> time of its key-down
};
