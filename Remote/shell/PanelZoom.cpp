#include "PanelZoom.h"

#include <algorithm>
#include <cmath>
#include <vector>

PanelZoom::PanelZoom(double factor, QPoint origin)
    : m_factor(std::isfinite(factor) ? std::clamp(factor, kMinFactor, kMaxFactor) : 1.0),
      m_origin(origin)
{}

PanelZoom PanelZoom::Fit(QSize panel, QSize area)
{
    if (panel.isEmpty() || area.isEmpty())
        return {};
    const double factor =
        std::min(double(area.width()) / panel.width(), double(area.height()) / panel.height());
    const PanelZoom placed(factor, {});
    const QSize shown = SizeAt(placed.m_factor, panel);
    return {placed.m_factor, QPoint(std::max(0, (area.width() - shown.width()) / 2),
                                    std::max(0, (area.height() - shown.height()) / 2))};
}

PanelZoom PanelZoom::Fixed(double factor, QSize panel, QSize area)
{
    const QSize shown = SizeAt(factor, panel);
    if (panel.isEmpty() || shown.width() > area.width() || shown.height() > area.height())
        return Fit(panel, area);
    return {factor,
            QPoint((area.width() - shown.width()) / 2, (area.height() - shown.height()) / 2)};
}

QSize PanelZoom::SizeAt(double factor, QSize panel)
{
    const PanelZoom zoom(factor, {});
    return {zoom.Edge(panel.width()), zoom.Edge(panel.height())};
}

// Panel pixel u spans [u, u + 1); the window pixel p shows the panel pixel under its centre
// p + 0.5, so u begins at the first p with p + 0.5 >= u * factor.
int PanelZoom::Edge(int u) const
{
    return static_cast<int>(std::ceil(u * m_factor - 0.5));
}

// The u with Edge(u) <= offset < Edge(u + 1). The first guess is exact in real arithmetic;
// the steps settle what rounding may have moved, so the two directions never disagree.
int PanelZoom::Back(int offset) const
{
    int u = static_cast<int>(std::floor((offset + 0.5) / m_factor));
    while (Edge(u + 1) <= offset)
        ++u;
    while (Edge(u) > offset)
        --u;
    return u;
}

QRect PanelZoom::ToWindow(const QRect &panelRect) const
{
    const int left = EdgeX(panelRect.left());
    const int top = EdgeY(panelRect.top());
    return {left, top, EdgeX(panelRect.left() + panelRect.width()) - left,
            EdgeY(panelRect.top() + panelRect.height()) - top};
}

QPoint PanelZoom::ToPanel(QPoint windowPixel) const
{
    return {Back(windowPixel.x() - m_origin.x()), Back(windowPixel.y() - m_origin.y())};
}

QRegion PanelZoom::ToWindow(const QRegion &local, QPoint panelCorner) const
{
    if (m_factor == 1.0)
        return local;
    const QPoint corner(EdgeX(panelCorner.x()), EdgeY(panelCorner.y()));
    std::vector<QRect> rects;
    rects.reserve(static_cast<std::size_t>(local.rectCount()));
    for (const QRect &r : local) {
        const QRect shown = ToWindow(r.translated(panelCorner)).translated(-corner);
        if (!shown.isEmpty())
            rects.push_back(shown);
    }
    QRegion region;
    if (m_factor > 1.0) {
        // Growing keeps the rectangles apart, in order and banded as they came: one batch.
        region.setRects(rects.data(), static_cast<int>(rects.size()));
    } else {
        // Shrinking can make neighbours touch, which a batch must not hold.
        for (const QRect &r : rects)
            region += r;
    }
    return region;
}
