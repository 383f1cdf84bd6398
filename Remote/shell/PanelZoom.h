// A panel drawn for one size, shown at another: a zoom factor and the window point where the
// panel's top-left corner lands. Window and panel pixels correspond through pixel centres: a
// window pixel shows the panel pixel under its centre, and a panel rectangle covers exactly the
// window pixels that show one of its pixels. A click therefore maps back to the very panel
// pixel it was drawn from, and a key's window rectangle holds exactly the clicks that map back
// into the key.
#pragma once

#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QSize>

class PanelZoom
{
public:
    static constexpr double kMinFactor = 0.1;
    static constexpr double kMaxFactor = 8.0;

    // 1:1 at the window's corner.
    PanelZoom() = default;
    // `factor` is held to kMinFactor..kMaxFactor.
    PanelZoom(double factor, QPoint origin);

    // The largest zoom at which the whole panel shows in `area`, centred in it.
    static PanelZoom Fit(QSize panel, QSize area);
    // `factor`, centred when the area is larger than the zoomed panel; the fit when the zoomed
    // panel would not show whole.
    static PanelZoom Fixed(double factor, QSize panel, QSize area);
    // The window size that shows the whole panel at `factor` from the window's corner.
    static QSize SizeAt(double factor, QSize panel);

    double Factor() const { return m_factor; }
    QPoint Origin() const { return m_origin; }
    bool IsIdentity() const { return m_factor == 1.0 && m_origin.isNull(); }

    // The window column (row) where panel column x (row y) begins; for one past a panel's last
    // column it is where the panel ends.
    int EdgeX(int x) const { return m_origin.x() + Edge(x); }
    int EdgeY(int y) const { return m_origin.y() + Edge(y); }
    // The window pixels showing the rectangle's pixels (empty when the zoom leaves none).
    QRect ToWindow(const QRect &panelRect) const;
    // The panel pixel a window pixel shows; outside the panel for a pixel beside it.
    QPoint ToPanel(QPoint windowPixel) const;
    // A region in a widget's own pixels whose corner sits at `panelCorner` on the panel: the
    // same region in the pixels of the widget as zoomed.
    QRegion ToWindow(const QRegion &local, QPoint panelCorner) const;

    bool operator==(const PanelZoom &other) const
    {
        return m_factor == other.m_factor && m_origin == other.m_origin;
    }
    bool operator!=(const PanelZoom &other) const { return !(*this == other); }

private:
    int Edge(int u) const;
    int Back(int offset) const;

    double m_factor = 1.0;
    QPoint m_origin;
};
