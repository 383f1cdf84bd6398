// A skinned push button: one of four face bitmaps by state, its window cut to the face's
// non-white outline. It only paints; clicks arrive as ordinary clicked() signals.
#pragma once

#include "PanelZoom.h"

#include <QAbstractButton>
#include <QImage>
#include <QRegion>
#include <array>

class CQxButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit CQxButton(QWidget *parent = nullptr, int controlId = 0);

    // Resource IDs (res::LoadBitmap); 0 clears that face.
    void SetBitmaps(int normalId, int pressedId, int focusId, int disabledId);
    // Same with pictures given directly (a null image clears that face).
    void SetFaces(const QImage &normal, const QImage &pressed, const QImage &focus,
                  const QImage &disabled);

    int ControlId() const { return m_controlId; }

    // The union of the runs of non-white pixels; only pure white (255, 255, 255) is transparent.
    static QRegion OutlineOf(const QImage &image);

    enum FaceIndex
    {
        Normal = 0,
        Pressed = 1,
        Focus = 2,
        Disabled = 3
    };
    // The face the button would paint now (first match: disabled, pressed, focus, normal).
    int CurrentFace() const;

    const QImage &Face(int face) const;
    const QRegion &FaceRegion(int face) const;

    // Where the button sits on its panel, in panel pixels; the window shows it through the
    // panel's zoom. With `sizeFromFace` the size then follows the face shown, as it does for a
    // button never placed this way; otherwise the button keeps the size given.
    void PlaceOnPanel(const QRect &rect, bool sizeFromFace);
    void SetZoom(const PanelZoom &zoom);
    // The place on the panel; the geometry for a button never placed on one.
    QRect PanelRect() const { return m_placed ? m_panelRect : geometry(); }
    // A point of the button as shown to the point of its unzoomed self.
    QPoint ToPanelLocal(QPoint local) const;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // Size and window mask follow the face about to be shown.
    void ApplyFace();
    // The window geometry, and the outlines cut to it, for the place on the panel.
    void ShowAtPanelRect();
    // The face's outline as the zoom shows it.
    const QRegion &ShownRegion(int face);

    int m_controlId = 0;
    int m_appliedFace = -1;
    qint64 m_appliedKey = 0;
    std::array<QImage, 4> m_faces;
    std::array<QRegion, 4> m_regions;

    bool m_placed = false;
    bool m_sizeFromFace = true;
    QRect m_panelRect;
    PanelZoom m_zoom;
    std::array<QRegion, 4> m_shownRegions;
    std::array<bool, 4> m_shownValid{};
};
