#include "CRefreshFeature.h"

#include "CPrefStore.h"
#include "CRemoteDlg.h"
#include "ComfortIds.h"
#include "ComfortMenu.h"

#include <QActionGroup>
#include <QMenu>

using RefreshMode = CRemoteSession::RefreshMode;

void CRefreshFeature::AddMenuItems(QMenu &menu, SessionState)
{
    QMenu *group = menu.addMenu(QStringLiteral("Refresh"));
    const bool afterKeys = m_panel.Session().GetRefreshMode() == RefreshMode::AfterKeys;
    auto *exclusive = new QActionGroup(group);
    exclusive->addAction(AddCommandItem(*group, QStringLiteral("Standard"),
                                        comfort_ids::ID_REFRESH_STANDARD, !afterKeys));
    exclusive->addAction(AddCommandItem(*group, QStringLiteral("After Keys"),
                                        comfort_ids::ID_REFRESH_AFTER_KEYS, afterKeys));
}

bool CRefreshFeature::OnCommand(int id)
{
    if (id != comfort_ids::ID_REFRESH_STANDARD && id != comfort_ids::ID_REFRESH_AFTER_KEYS)
        return false;
    const bool afterKeys = id == comfort_ids::ID_REFRESH_AFTER_KEYS;
    m_panel.Session().SetRefreshMode(afterKeys ? RefreshMode::AfterKeys : RefreshMode::Standard);
    m_panel.Store().WriteRefresh(afterKeys ? 1 : 0);
    return true;
}
