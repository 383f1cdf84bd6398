#include "CPanelZoomer.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

CPanelZoomer::CPanelZoomer(QWidget &window, int statusBarHeight)
    : m_window(window), m_statusBarHeight(statusBarHeight)
{}

QSize CPanelZoomer::ClientSizeFor(QSize panel) const
{
    const double factor = m_factor == kFit ? 1.0 : m_factor;
    return PanelZoom::SizeAt(factor, panel) + QSize(0, m_statusBarHeight);
}

void CPanelZoomer::SetPanelSize(QSize panel, bool fixedFrame)
{
    m_panel = panel;
    m_fixedFrame = fixedFrame;
    ApplyWindowSize();
    Recompute();
}

void CPanelZoomer::SetFactor(double factor)
{
    m_factor = factor <= kFit ? kFit : PanelZoom(factor, {}).Factor();
    ApplyWindowSize();
    Recompute();
}

void CPanelZoomer::SetFullScreen(bool on)
{
    if (on == m_fullScreen)
        return;
    if (on) {
        m_normalGeometry = m_window.geometry();
        m_fullScreen = true;
        // A window held at one size cannot take the screen's.
        ApplyWindowSize();
        m_window.showFullScreen();
        // On X11 the window manager makes a window full screen; a room's PC may run none.
        if (QGuiApplication::platformName() == QLatin1String("xcb"))
            if (const QScreen *screen = m_window.screen())
                m_window.setGeometry(screen->geometry());
    } else {
        m_fullScreen = false;
        m_window.showNormal();
        if (m_factor == kFit)
            m_window.setGeometry(m_normalGeometry);
        ApplyWindowSize();
        if (m_factor != kFit)
            m_window.move(m_normalGeometry.topLeft());
    }
    Recompute();
}

void CPanelZoomer::ApplyWindowSize()
{
    if (m_panel.isEmpty())
        return;
    m_requested = IsFixed() ? ClientSizeFor(m_panel) : QSize();
    if (IsFixed() && m_fixedFrame) {
        m_window.setFixedSize(m_requested);
        return;
    }
    m_window.setMinimumSize(PanelZoom::SizeAt(kSmallestShare, m_panel) +
                            QSize(0, m_statusBarHeight));
    m_window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (m_requested.isValid())
        m_window.resize(m_requested);
}

void CPanelZoomer::OnResized()
{
    if (IsFixed() && !m_fixedFrame && m_window.isVisible() && m_requested.isValid() &&
        m_window.size() != m_requested) {
        m_factor = kFit;
        m_requested = QSize();
    }
    Recompute();
}

void CPanelZoomer::Recompute()
{
    const QSize area(m_window.width(), m_window.height() - m_statusBarHeight);
    m_zoom = m_factor == kFit || m_fullScreen ? PanelZoom::Fit(m_panel, area)
                                              : PanelZoom::Fixed(m_factor, m_panel, area);
}
