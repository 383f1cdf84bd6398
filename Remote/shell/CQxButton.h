// A skinned push button: one of four face bitmaps by state, its window cut to the face's
// non-white outline. It only paints; clicks arrive as ordinary clicked() signals.
#pragma once

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

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // Size and window mask follow the face about to be shown.
    void ApplyFace();

    int m_controlId = 0;
    int m_appliedFace = -1;
    qint64 m_appliedKey = 0;
    std::array<QImage, 4> m_faces;
    std::array<QRegion, 4> m_regions;
};
