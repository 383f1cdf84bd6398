// A feature a panel window can be given besides its own behaviour (capture, sharing, ...).
// It owns its widgets and settings and adds its items to the right-click menu, after the
// panel's own; commands of its items come back to it.
#pragma once

#include "SessionState.h"

class QMenu;

class IPanelFeature
{
public:
    virtual ~IPanelFeature() = default;
    // Appends this feature's items, their states following `state`.
    virtual void AddMenuItems(QMenu &menu, SessionState state) = 0;
    // A command chosen from one of those items; false when the identifier is not this
    // feature's.
    virtual bool OnCommand(int id) = 0;
};
