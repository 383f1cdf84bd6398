// What the browser view tells about the instrument besides its picture: the panel (or the
// command-line server) keeps it current, the share server adds its own figures.
#pragma once

#include "ConnMethod.h"
#include "SessionState.h"

#include <QString>

#include <vector>

// One key the page offers as a button.
struct ShareKey
{
    QString label;
    QString command;
};

struct ShareStatus
{
    QString model;  // as the instrument reported it, empty before it has
    QString family; // the panel family, empty when not known
    // Keys are taken only while remote control runs (IsStarted); the page shows it by name.
    SessionState state = SessionState::Disconnected;
    ConnMethod method = ConnMethod::Usb; // the page shows "TCP/IP", "IPv6" or "USB"
    QString address;                     // the instrument's address (TCP), empty for USB
    bool touch = false;                  // the instrument takes clicks on its screen
    int screenWidth = 800;
    int screenHeight = 480;
    std::vector<ShareKey> keys;
};
