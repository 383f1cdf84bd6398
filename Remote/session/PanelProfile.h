// What differs between the panel families, as data: one row per family. The session reads its
// timings and log formats here; the panel reads its geometry and artwork.
#pragma once

#include <QRect>
#include <QSize>

struct PanelProfile
{
    // Session ---------------------------------------------------------------------------
    int keySpacingMs;           // consecutive key commands leave at least this far apart
    int refreshPauseMs;         // pause at the start of every refresh cycle
    int usbWaitCount;           // 100 ms pauses the USB connect waits for the identification
    const char *tcpTimeFormat;  // transfer time after a TCP screen ("%.3f" or "%.3f, %d")
    const char *usbTimeFormat;  // transfer time after a USB screen; nullptr: not logged
    const char *tcpReceiveFail; // a failed TCP screen
    const char *usbReceiveFail; // a failed USB screen
    bool longRightStep;         // the knob's "KEYP:RIGH" leaves as "KEYP:RIGHT"
    bool logLineFeed;           // a logged key text includes its line feed
    bool disconnectOnSendFailure;
    bool qualityOnStart; // Start sends a stored medium or low quality

    // Panel ------------------------------------------------------------------------------
    QSize clientSize;   // at 100 %, status bar included
    QRect screen;       // where the instrument's screen is drawn at 100 %
    QSize screenSize;   // the instrument's screen in its own pixels
    int panelArt;       // the panel picture
    int placeholderArt; // shown on the screen until the first picture; 0: the panel's own
};
