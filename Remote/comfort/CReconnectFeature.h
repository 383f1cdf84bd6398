// "Auto Reconnect": whether a Started session whose instrument went away reconnects by itself
// (kept as "AutoReconnect").
#pragma once

#include "IPanelFeature.h"

class CRemoteDlg;

class CReconnectFeature : public IPanelFeature
{
public:
    explicit CReconnectFeature(CRemoteDlg &panel) : m_panel(panel) {}
    void AddMenuItems(QMenu &menu, SessionState state) override;
    bool OnCommand(int id) override;

private:
    CRemoteDlg &m_panel;
};
