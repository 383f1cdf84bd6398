// The "Refresh" group: "Standard" (one screen per cycle) or "After Keys" (also one soon after
// the last key of a burst), kept as "Refresh" (0 or 1).
#pragma once

#include "IPanelFeature.h"

class CRemoteDlg;

class CRefreshFeature : public IPanelFeature
{
public:
    explicit CRefreshFeature(CRemoteDlg &panel) : m_panel(panel) {}
    void AddMenuItems(QMenu &menu, SessionState state) override;
    bool OnCommand(int id) override;

private:
    CRemoteDlg &m_panel;
};
