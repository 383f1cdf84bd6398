// "Show Statistics" (kept as "ShowStats"): the screen link's figures in a corner over the
// picture, twice a second while remote control runs. Drawn by the screen view over the
// picture, so they never reach a saved picture.
#pragma once

#include "CLinkStats.h"
#include "IPanelFeature.h"

#include <QObject>
#include <QString>
#include <QTimer>

class CRemoteDlg;

// The overlay's lines for a set of figures.
QString StatsOverlayText(const CLinkStats::Figures &figures);

class CStatsFeature : public QObject, public IPanelFeature
{
    Q_OBJECT
public:
    explicit CStatsFeature(CRemoteDlg &panel);
    void AddMenuItems(QMenu &menu, SessionState state) override;
    bool OnCommand(int id) override;
    bool Shown() const { return m_shown; }

private:
    void Update();

    CRemoteDlg &m_panel;
    bool m_shown = false;
    QTimer m_timer;
};
