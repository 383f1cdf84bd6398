#include "CReconnectFeature.h"

#include "CPrefStore.h"
#include "CRemoteDlg.h"
#include "ComfortIds.h"
#include "ComfortMenu.h"

#include <QMenu>

void CReconnectFeature::AddMenuItems(QMenu &menu, SessionState)
{
    AddCommandItem(menu, QStringLiteral("Auto Reconnect"), comfort_ids::ID_AUTO_RECONNECT,
                   m_panel.Session().AutoReconnect());
}

bool CReconnectFeature::OnCommand(int id)
{
    if (id != comfort_ids::ID_AUTO_RECONNECT)
        return false;
    const bool on = !m_panel.Session().AutoReconnect();
    m_panel.Session().SetAutoReconnect(on);
    m_panel.Store().WriteAutoReconnect(on);
    return true;
}
