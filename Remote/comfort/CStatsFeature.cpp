#include "CStatsFeature.h"

#include "CPrefStore.h"
#include "CRemoteDlg.h"
#include "ComfortIds.h"
#include "ComfortMenu.h"

#include <QMenu>

#include <cmath>

namespace {
constexpr int kUpdateMs = 500;
} // namespace

QString StatsOverlayText(const CLinkStats::Figures &f)
{
    return QString::asprintf("pictures/s  %.1f\n"
                             "transfer    %.0f ms\n"
                             "per picture %.1f kB\n"
                             "rate        %.1f kB/s\n"
                             "failures    %d",
                             f.picturesPerSecond, std::round(f.lastTransferMs), f.kBPerPicture,
                             f.kBPerSecond, f.failures);
}

CStatsFeature::CStatsFeature(CRemoteDlg &panel)
    : m_panel(panel), m_shown(panel.Store().ReadShowStats())
{
    m_timer.setInterval(kUpdateMs);
    connect(&m_timer, &QTimer::timeout, this, &CStatsFeature::Update);
    // The timer runs whenever the figures show, so the pictures themselves need not be
    // watched: a change of state or of the item is all that starts or stops it.
    connect(&panel.Session(), &CRemoteSession::stateChanged, this, &CStatsFeature::Update);
    Update();
}

void CStatsFeature::AddMenuItems(QMenu &menu, SessionState)
{
    AddCommandItem(menu, QStringLiteral("Show Statistics"), comfort_ids::ID_SHOW_STATISTICS,
                   m_shown);
}

bool CStatsFeature::OnCommand(int id)
{
    if (id != comfort_ids::ID_SHOW_STATISTICS)
        return false;
    m_shown = !m_shown;
    m_panel.Store().WriteShowStats(m_shown);
    Update();
    return true;
}

void CStatsFeature::Update()
{
    // Figures only mean something while remote control runs.
    if (!m_shown || !IsStarted(m_panel.State())) {
        m_timer.stop();
        m_panel.SetScreenOverlay(QString());
        return;
    }
    if (!m_timer.isActive())
        m_timer.start();
    m_panel.SetScreenOverlay(
        StatsOverlayText(m_panel.Session().LinkFigures(CLinkStats::Clock::now())));
}
