// How a panel window shows its panel: at a fixed zoom the window takes the zoomed panel's size;
// to fit (and in full screen) the panel scales to whatever size the window has, keeping its
// aspect ratio, centred. The status bar keeps its own height beneath the panel at any zoom.
#pragma once

#include "PanelZoom.h"

#include <QRect>
#include <QSize>

class QWidget;

class CPanelZoomer
{
public:
    // The factor that stands for "fit the window".
    static constexpr double kFit = 0.0;
    // The smallest a resizable window is let go, as a share of the panel at 100 %.
    static constexpr double kSmallestShare = 0.5;

    CPanelZoomer(QWidget &window, int statusBarHeight);

    // The panel's own size in panel pixels (the client less the status bar, unzoomed). With
    // `fixedFrame` the operator cannot resize the window at a fixed zoom.
    void SetPanelSize(QSize panel, bool fixedFrame);
    QSize PanelSize() const { return m_panel; }
    // The client size that shows `panel` at the fixed zoom now chosen.
    QSize ClientSizeFor(QSize panel) const;

    // A fixed factor or kFit. A fixed factor sizes the window at once; in full screen the
    // choice applies when full screen ends.
    void SetFactor(double factor);
    double Factor() const { return m_factor; }
    // A fixed zoom in a window that is not full screen: the window's size is the panel's.
    bool IsFixed() const { return m_factor != kFit && !m_fullScreen; }

    void SetFullScreen(bool on);
    bool IsFullScreen() const { return m_fullScreen; }

    // After the window's size has changed: the zoom follows it. A size the operator gave a
    // resizable window at a fixed zoom makes it fit from then on.
    void OnResized();
    const PanelZoom &Zoom() const { return m_zoom; }

private:
    void ApplyWindowSize();
    void Recompute();

    QWidget &m_window;
    const int m_statusBarHeight;
    QSize m_panel;
    bool m_fixedFrame = false;
    double m_factor = 1.0;
    bool m_fullScreen = false;
    QRect m_normalGeometry; // the window before full screen
    QSize m_requested;      // the client size a fixed zoom asked for
    PanelZoom m_zoom;
};
