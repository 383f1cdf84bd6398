// Drawing primitives of the panel artwork: the moulded case, wells, rubber keys, the knob and
// the text on them. Light comes from the top left everywhere. Everything is drawn with
// QPainter into RGB32 images at the final pixel size.
#pragma once

#include "ArtLayout.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

namespace res::art {

// Skinned buttons cut their window to the pixels that are not pure white.
inline constexpr QRgb kTransparent = 0xFFFFFFFFu;

// Colours shared by the panel pictures and the faces that are laid over them.
struct Palette
{
    static QColor CaseBase() { return {52, 55, 60}; }
    static QColor CaseDark() { return {34, 36, 40}; }
    static QColor WellFloor() { return {24, 25, 28}; }
    static QColor Glass() { return {9, 12, 16}; }
    static QColor PanelText() { return {196, 200, 206}; }
    static QColor Accent() { return {232, 142, 38}; }
};

enum class FaceState
{
    Normal,
    Pressed,
    Focus,
    Disabled
};

struct KeyFaceSpec
{
    QSize size;
    // The part of the face a button of the layout shows when it is smaller than the face
    // (the truncated scaled rectangles); the key is drawn inside it. Empty: the whole face.
    QSize body;
    layout::KeyStyle style = layout::KeyStyle::Function;
    layout::KeyShape shape = layout::KeyShape::Rounded;
    QString legend;
    FaceState state = FaceState::Normal;
    double scale = 1.0;     // 1, 0.85 or 0.7: sizes of radii, bevels and type
    QPointF ringCenter;     // arc-shaped keys: centre of the knob, face coordinates
    double ringInner = 0.0; // arc-shaped keys: inner and outer radius of the ring
    double ringOuter = 0.0;
};

// The outline of a key face inside its image (face coordinates).
QPainterPath KeyOutline(const KeyFaceSpec &desc);
QImage DrawKeyFace(const KeyFaceSpec &desc);

// notch 1..12 puts the pointer at bearing 30 * (notch - 1) degrees clockwise from 12 o'clock;
// notch 0 is the disabled knob. The knob is drawn inside the top-left `body` pixels square when
// its button is smaller than the picture (0: the whole picture).
QImage DrawKnob(int size, int notch, int body = 0);

// The moulded case filling the whole picture, with rounded corners and a bevel.
void DrawCase(QImage &image, double scale);
// The raised screen surround and the glass inside it; `screen` is the picture's rectangle.
void DrawBezel(QPainter &p, const QRect &screen, double scale);
// A screen with no picture yet: dark glass, a faint graticule and the operator's hint.
void DrawIdleScreen(QPainter &p, const QRect &screen, double scale);
// A recess the key with this outline (panel coordinates) sits in.
void DrawWell(QPainter &p, const QPainterPath &keyOutline, double scale);
// A printed line tying a soft key to the edge of the screen it labels.
void DrawGuideMark(QPainter &p, const QPointF &from, const QPointF &to, double scale);
// A round recess for the knob.
void DrawKnobWell(QPainter &p, const QPointF &center, double radius, double scale);
// The maker's plate: brand and a model line.
void DrawBrand(QPainter &p, const QRectF &area, const QString &model, double scale,
               Qt::Alignment align);
// Text printed on the case (not on a key), centred on `center`, shrunk to `maxWidth`.
void DrawPanelLegend(QPainter &p, const QPointF &center, const QString &text, double pixelSize,
                     double maxWidth);

QImage DrawPlaceholder(QSize size);
// Icons keep transparency (ARGB32), unlike the bitmaps.
QImage DrawStatusIcon(bool connected, int size);
QImage DrawAppIcon(int size);

// Text needs a running Gui application; without one the legends are left out.
bool CanDrawText();

} // namespace res::art
