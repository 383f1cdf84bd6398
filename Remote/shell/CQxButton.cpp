#include "CQxButton.h"

#include <QEvent>
#include <QPainter>
#include <vector>

#if KLR_HAVE_RES
#include "Resources.h"
#endif

namespace {

// Rectangles gathered before they are merged into the outline, which bounds one batch.
constexpr size_t kRectsPerFlush = 2000;
constexpr QRgb kTransparent = 0x00FFFFFF; // pure white, compared without alpha

QImage LoadFace(int id)
{
    if (id == 0)
        return QImage();
#if KLR_HAVE_RES
    return res::LoadBitmap(id);
#else
    return QImage();
#endif
}

void MergeRects(QRegion &region, const std::vector<QRect> &rects)
{
    if (rects.empty())
        return;
    QRegion batch;
    // Runs are collected top-down, left to right and never overlap: already the banded order
    // a region is built from.
    batch.setRects(rects.data(), static_cast<int>(rects.size()));
    region |= batch;
}

const QImage kNoImage;
const QRegion kNoRegion;

} // namespace

CQxButton::CQxButton(QWidget *parent, int controlId)
    : QAbstractButton(parent), m_controlId(controlId)
{
    if (controlId != 0)
        setObjectName(QString::number(controlId));
    // The panel picture behind the key must never flash through: nothing erases the background.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

QRegion CQxButton::OutlineOf(const QImage &image)
{
    QRegion outline;
    if (image.isNull())
        return outline;
    const QImage pixels = image.convertToFormat(QImage::Format_RGB32);
    if (pixels.isNull())
        return outline;
    std::vector<QRect> rects;
    rects.reserve(kRectsPerFlush);
    const int width = pixels.width();
    for (int y = 0; y < pixels.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(pixels.constScanLine(y));
        int x = 0;
        while (x < width) {
            while (x < width && (row[x] & 0x00FFFFFF) == kTransparent)
                ++x;
            const int start = x;
            while (x < width && (row[x] & 0x00FFFFFF) != kTransparent)
                ++x;
            if (x > start) {
                rects.emplace_back(start, y, x - start, 1);
                if (rects.size() == kRectsPerFlush) {
                    MergeRects(outline, rects);
                    rects.clear();
                }
            }
        }
    }
    MergeRects(outline, rects);
    return outline;
}

void CQxButton::SetBitmaps(int normalId, int pressedId, int focusId, int disabledId)
{
    SetFaces(LoadFace(normalId), LoadFace(pressedId), LoadFace(focusId), LoadFace(disabledId));
}

void CQxButton::SetFaces(const QImage &normal, const QImage &pressed, const QImage &focus,
                         const QImage &disabled)
{
    const QImage *faces[4] = {&normal, &pressed, &focus, &disabled};
    std::array<QImage, 4> oldFaces = m_faces;
    std::array<QRegion, 4> oldRegions = m_regions;
    for (size_t i = 0; i < m_faces.size(); ++i) {
        m_faces[i] = *faces[i];
        m_regions[i] = QRegion();
        if (m_faces[i].isNull())
            continue;
        // The same picture (shared data) as a face held before or set just now keeps its
        // outline: re-skinning a key and the knob's one-picture faces cost no new walk.
        const qint64 key = m_faces[i].cacheKey();
        bool reused = false;
        for (size_t j = 0; j < oldFaces.size() && !reused; ++j)
            if (!oldFaces[j].isNull() && oldFaces[j].cacheKey() == key) {
                m_regions[i] = oldRegions[j];
                reused = true;
            }
        for (size_t j = 0; j < i && !reused; ++j)
            if (!m_faces[j].isNull() && m_faces[j].cacheKey() == key) {
                m_regions[i] = m_regions[j];
                reused = true;
            }
        if (!reused)
            m_regions[i] = OutlineOf(m_faces[i]);
    }
    m_shownValid = {};
    m_appliedFace = -1;
    ApplyFace();
    update();
}

void CQxButton::PlaceOnPanel(const QRect &rect, bool sizeFromFace)
{
    m_placed = true;
    m_sizeFromFace = sizeFromFace;
    m_panelRect = rect;
    ShowAtPanelRect();
    // With sizeFromFace the face shown now gives the size.
    m_appliedFace = -1;
    ApplyFace();
}

void CQxButton::SetZoom(const PanelZoom &zoom)
{
    if (zoom == m_zoom)
        return;
    m_zoom = zoom;
    if (m_placed)
        ShowAtPanelRect();
    m_appliedFace = -1;
    ApplyFace();
    update();
}

void CQxButton::ShowAtPanelRect()
{
    m_shownValid = {};
    setGeometry(m_zoom.ToWindow(m_panelRect));
}

QPoint CQxButton::ToPanelLocal(QPoint local) const
{
    if (!m_placed || m_zoom.IsIdentity())
        return local;
    return m_zoom.ToPanel(geometry().topLeft() + local) - m_panelRect.topLeft();
}

const QRegion &CQxButton::ShownRegion(int face)
{
    const auto i = static_cast<size_t>(face);
    if (!m_placed || m_zoom.Factor() == 1.0)
        return m_regions[i];
    if (!m_shownValid[i]) {
        m_shownRegions[i] = m_zoom.ToWindow(m_regions[i], m_panelRect.topLeft());
        m_shownValid[i] = true;
    }
    return m_shownRegions[i];
}

int CQxButton::CurrentFace() const
{
    if (!isEnabled() && !m_faces[Disabled].isNull())
        return Disabled;
    if (isDown() && !m_faces[Pressed].isNull())
        return Pressed;
    if (hasFocus() && !m_faces[Focus].isNull())
        return Focus;
    return Normal;
}

const QImage &CQxButton::Face(int face) const
{
    return face >= 0 && face < 4 ? m_faces[static_cast<size_t>(face)] : kNoImage;
}

const QRegion &CQxButton::FaceRegion(int face) const
{
    return face >= 0 && face < 4 ? m_regions[static_cast<size_t>(face)] : kNoRegion;
}

void CQxButton::ApplyFace()
{
    const int face = CurrentFace();
    const QImage &image = m_faces[static_cast<size_t>(face)];
    const qint64 key = image.cacheKey();
    if (face == m_appliedFace && key == m_appliedKey)
        return;
    m_appliedFace = face;
    m_appliedKey = key;
    if (image.isNull())
        return;
    if (!m_placed) {
        if (size() != image.size())
            resize(image.size()); // keeps the position
    } else if (m_sizeFromFace && m_panelRect.size() != image.size()) {
        m_panelRect.setSize(image.size());
        ShowAtPanelRect();
    }
    const QRegion &region = ShownRegion(face);
    if (region.isEmpty())
        clearMask();
    else
        setMask(region);
}

bool CQxButton::event(QEvent *event)
{
    const bool handled = QAbstractButton::event(event);
    // Any event may change the state the face depends on (press, release, focus, enabling);
    // the mask must be in place before the face shows, so it is settled here, not in painting.
    if (event->type() != QEvent::Paint)
        ApplyFace();
    return handled;
}

void CQxButton::paintEvent(QPaintEvent *)
{
    // setDown() from code changes the state with only a repaint to show for it.
    ApplyFace();
    const int face = CurrentFace();
    const QImage &image = m_faces[static_cast<size_t>(face)];
    if (image.isNull())
        return;
    const QRegion &region = m_regions[static_cast<size_t>(face)];
    // An all-white face has an empty outline: nothing of it is meant to be seen.
    if (region.isEmpty())
        return;
    QPainter painter(this);
    painter.setClipRegion(ShownRegion(face));
    if (!m_placed || m_zoom.Factor() == 1.0) {
        painter.drawImage(QPoint(0, 0), image);
        return;
    }
    // The face as the panel would show it, larger or smaller: a face larger than its button
    // stays clipped at the same panel pixel.
    const QRect target = m_zoom.ToWindow(QRect(m_panelRect.topLeft(), image.size()))
                             .translated(-geometry().topLeft());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image);
}
