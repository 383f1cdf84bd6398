#include "ArtKit.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainterPathStroker>
#include <QRadialGradient>
#include <QtMath>
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace res::art {

namespace {

constexpr const char *kFontFamily = "DejaVu Sans";

QColor Mix(const QColor &a, const QColor &b, double t)
{
    auto lerp = [t](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * t)); };
    return QColor(lerp(a.red(), b.red()), lerp(a.green(), b.green()), lerp(a.blue(), b.blue()),
                  lerp(a.alpha(), b.alpha()));
}

QColor Grey(const QColor &c)
{
    const int g = qGray(c.rgb());
    return QColor(g, g, g);
}

// A path shrunk (negative) or grown (positive) by `by` pixels all round.
QPainterPath Offset(const QPainterPath &path, double by)
{
    QPainterPathStroker stroker;
    stroker.setWidth(2.0 * std::abs(by));
    stroker.setJoinStyle(Qt::RoundJoin);
    const QPainterPath band = stroker.createStroke(path);
    return by < 0 ? path.subtracted(band) : path.united(band).simplified();
}

QFont LegendFont(double pixelSize, bool bold, bool condensed)
{
    QFont f(kFontFamily);
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
    f.setBold(bold);
    if (condensed)
        f.setStretch(QFont::Condensed);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

// The largest font not above `pixelSize` (down to `minPixel`) whose text fits `maxWidth`;
// condensed type is tried before the size is given up.
QFont FitFont(const QString &text, double pixelSize, double maxWidth, bool bold,
              double minPixel = 6.0)
{
    for (double px = pixelSize; px >= minPixel; px -= 0.5) {
        for (bool condensed : {false, true}) {
            QFont f = LegendFont(px, bold, condensed);
            if (QFontMetricsF(f).horizontalAdvance(text) <= maxWidth)
                return f;
        }
    }
    return LegendFont(minPixel, bold, true);
}

void DrawCentredText(QPainter &p, const QRectF &box, const QString &text, const QFont &font,
                     const QColor &color)
{
    if (!CanDrawText())
        return;
    p.setFont(font);
    p.setPen(color);
    p.drawText(box, Qt::AlignCenter, text);
}

bool IsArrowGlyph(const QString &s)
{
    return s == QStringLiteral("\u25B2") || s == QStringLiteral("\u25BC") ||
           s == QStringLiteral("\u25C0") || s == QStringLiteral("\u25B6");
}

// A solid triangle pointing like the glyph, centred on `c`, `size` pixels across.
QPainterPath ArrowPath(const QString &glyph, const QPointF &c, double size)
{
    const double h = size * 0.5;
    const double w = size * 0.58;
    QPolygonF tri;
    if (glyph == QStringLiteral("\u25B2"))
        tri << QPointF(c.x(), c.y() - h * 0.9) << QPointF(c.x() + w, c.y() + h * 0.6)
            << QPointF(c.x() - w, c.y() + h * 0.6);
    else if (glyph == QStringLiteral("\u25BC"))
        tri << QPointF(c.x(), c.y() + h * 0.9) << QPointF(c.x() - w, c.y() - h * 0.6)
            << QPointF(c.x() + w, c.y() - h * 0.6);
    else if (glyph == QStringLiteral("\u25C0"))
        tri << QPointF(c.x() - h * 0.9, c.y()) << QPointF(c.x() + h * 0.6, c.y() - w)
            << QPointF(c.x() + h * 0.6, c.y() + w);
    else
        tri << QPointF(c.x() + h * 0.9, c.y()) << QPointF(c.x() - h * 0.6, c.y() + w)
            << QPointF(c.x() - h * 0.6, c.y() - w);
    tri << tri.first();
    QPainterPath path;
    path.addPolygon(tri);
    return path;
}

struct KeyColours
{
    QColor cap;
    QColor legend;
};

KeyColours ColoursOf(layout::KeyStyle style)
{
    using S = layout::KeyStyle;
    switch (style) {
    case S::Numeric:
        return {{200, 203, 208}, {30, 32, 37}};
    case S::Escape:
        return {{206, 116, 32}, {252, 250, 246}};
    case S::Enter:
        return {{40, 98, 168}, {246, 249, 252}};
    case S::Arrow:
        return {{70, 74, 82}, {236, 238, 240}};
    case S::Soft:
        return {{86, 90, 98}, {236, 238, 240}};
    case S::Function:
    default:
        return {{62, 66, 73}, {236, 238, 240}};
    }
}

// Pixels outside the antialiased outline become pure white; pure white inside becomes 254 so
// the button's window keeps them.
void CutToOutline(QImage &image, const QPainterPath &outline)
{
    QImage mask(image.size(), QImage::Format_Alpha8);
    mask.fill(0);
    {
        QPainter mp(&mask);
        mp.setRenderHint(QPainter::Antialiasing);
        mp.fillPath(outline, Qt::black);
    }
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        const uchar *m = mask.constScanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            if (m[x] == 0)
                row[x] = kTransparent;
            else if ((row[x] | 0xFF000000u) == kTransparent)
                row[x] = qRgb(254, 254, 254);
        }
    }
}

// Cheap deterministic grain for the moulded plastic.
int Grain(int x, int y)
{
    auto h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return static_cast<int>(h % 7u) - 3;
}

} // namespace

bool CanDrawText()
{
    return QGuiApplication::instance() != nullptr;
}

// ---------------------------------------------------------------- keys

QPainterPath KeyOutline(const KeyFaceSpec &desc)
{
    using H = layout::KeyShape;
    const QSize b = desc.body.isEmpty() ? desc.size : desc.body.boundedTo(desc.size);
    const QRectF r(0.5, 0.5, b.width() - 1.0, b.height() - 1.0);
    const double shortSide = std::min(r.width(), r.height());
    QPainterPath path;
    switch (desc.shape) {
    case H::Pill: {
        const double radius = shortSide * 0.42;
        path.addRoundedRect(r, radius, radius);
        break;
    }
    case H::ArcUp:
    case H::ArcDown:
    case H::ArcLeft:
    case H::ArcRight: {
        const double radius = std::max(3.0, 7.0 * desc.scale);
        QPainterPath box;
        box.addRoundedRect(r, radius, radius);
        QPainterPath outer;
        outer.addEllipse(desc.ringCenter, desc.ringOuter, desc.ringOuter);
        QPainterPath inner;
        inner.addEllipse(desc.ringCenter, desc.ringInner, desc.ringInner);
        path = box.intersected(outer).subtracted(inner);
        break;
    }
    case H::Rounded:
    default: {
        const double radius = std::max(3.0, std::min(8.0 * desc.scale, shortSide * 0.22));
        path.addRoundedRect(r, radius, radius);
        break;
    }
    }
    return path;
}

QImage DrawKeyFace(const KeyFaceSpec &desc)
{
    QImage image(desc.size, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.fill(Palette::WellFloor());

    const double s = desc.scale;
    const bool pressed = desc.state == FaceState::Pressed;
    const bool disabled = desc.state == FaceState::Disabled;
    KeyColours colours = ColoursOf(desc.style);
    if (pressed)
        colours.cap = colours.cap.darker(118);
    if (disabled) {
        colours.cap = Mix(Grey(colours.cap), Palette::CaseBase(), 0.45);
        colours.legend = Mix(colours.legend, colours.cap, 0.62);
    }

    const QPainterPath outline = KeyOutline(desc);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The skirt: the key's side wall, visible below the cap when the key is up.
    const QRectF box = outline.boundingRect();
    QLinearGradient skirt(box.topLeft(), box.bottomLeft());
    skirt.setColorAt(0.0, colours.cap.darker(150));
    skirt.setColorAt(1.0, colours.cap.darker(260));
    p.fillPath(outline, skirt);

    const double inset = std::max(1.4, 2.0 * s);
    const QPointF lift = pressed ? QPointF(0.5 * s, 0.9 * s) : QPointF(-0.4 * s, -1.0 * s);
    const QPainterPath cap = Offset(outline, -inset).translated(lift);
    const QRectF capBox = cap.boundingRect();

    QLinearGradient body(capBox.topLeft(), capBox.bottomLeft());
    body.setColorAt(0.0, colours.cap.lighter(pressed ? 104 : 116));
    body.setColorAt(0.55, colours.cap);
    body.setColorAt(1.0, colours.cap.darker(pressed ? 104 : 112));
    p.fillPath(cap, body);

    if (!pressed && !disabled) {
        // Soft sheen of the rubber, brightest toward the light.
        QRadialGradient sheen(capBox.left() + capBox.width() * 0.35,
                              capBox.top() + capBox.height() * 0.2,
                              std::max(capBox.width(), capBox.height()) * 0.7);
        sheen.setColorAt(0.0, QColor(255, 255, 255, 34));
        sheen.setColorAt(1.0, QColor(255, 255, 255, 0));
        p.fillPath(cap, sheen);
        // Catch-light along the upper edge.
        p.save();
        p.setClipPath(cap);
        p.fillPath(cap.subtracted(cap.translated(0.0, 1.0 * s + 0.4)), QColor(255, 255, 255, 60));
        p.restore();
    }
    if (pressed) {
        // Inner shadow from the rim of the well, cast onto the sunken cap; softer on light
        // keys, where the same shade would read as a second outline.
        const double depth = qGray(colours.cap.rgb()) > 140 ? 0.55 : 1.0;
        p.save();
        p.setClipPath(cap);
        p.fillPath(cap.subtracted(cap.translated(1.0 * s + 0.5, 1.4 * s + 0.5)),
                   QColor(0, 0, 0, static_cast<int>(70 * depth)));
        p.fillPath(cap.subtracted(cap.translated(2.2 * s + 0.5, 2.8 * s + 0.5)),
                   QColor(0, 0, 0, static_cast<int>(45 * depth)));
        p.restore();
    }
    if (desc.state == FaceState::Focus) {
        QPen ring(QColor(96, 176, 255), std::max(1.2, 1.8 * s));
        p.setPen(ring);
        p.setBrush(Qt::NoBrush);
        p.drawPath(Offset(cap, -std::max(1.0, 1.4 * s)));
    }

    // Legend.
    const QPointF centre = capBox.center();
    if (IsArrowGlyph(desc.legend)) {
        const double size = std::min(capBox.width(), capBox.height()) * 0.42;
        p.fillPath(ArrowPath(desc.legend, centre, size), colours.legend);
    } else if (desc.legend == QStringLiteral(".")) {
        // Set as a centred dot: the type's full stop sits on the baseline and is a speck.
        const double r = std::max(1.6, capBox.height() * 0.085);
        p.setPen(Qt::NoPen);
        p.setBrush(colours.legend);
        p.drawEllipse(centre, r, r);
    } else if (!desc.legend.isEmpty() && CanDrawText()) {
        const bool digit = desc.legend.size() <= 3 && desc.style == layout::KeyStyle::Numeric;
        const double px =
            digit ? capBox.height() * 0.46 : std::min(capBox.height() * 0.45, 13.0 * s);
        const QFont font = FitFont(desc.legend, px, capBox.width() - 6.0 * s, true, 6.0);
        DrawCentredText(p, capBox, desc.legend, font, colours.legend);
    }
    p.end();

    CutToOutline(image, outline);
    return image;
}

// ---------------------------------------------------------------- knob

QImage DrawKnob(int size, int notch, int body)
{
    QImage image(size, size, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.fill(Palette::WellFloor());
    const bool disabled = notch <= 0;
    const int shown = (body > 0 && body < size) ? body : size;
    const double c = shown / 2.0;
    const QPointF centre(c, c);
    const double outerR = c - 0.5;
    const double s = shown / 177.0;

    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QPainterPath outline;
    outline.addEllipse(centre, outerR, outerR);

    // Knurled rim: a ring lit from the top left, cut by fine grooves.
    QLinearGradient rimFill(centre - QPointF(outerR, outerR), centre + QPointF(outerR, outerR));
    rimFill.setColorAt(0.0, disabled ? QColor(96, 98, 102) : QColor(128, 132, 140));
    rimFill.setColorAt(0.5, QColor(62, 64, 70));
    rimFill.setColorAt(1.0, QColor(24, 25, 28));
    p.fillPath(outline, rimFill);
    const int grooves = std::max(40, static_cast<int>(std::lround(shown * 0.5)));
    const double rimInner = outerR * 0.84;
    for (int i = 0; i < grooves; ++i) {
        const double a = 2.0 * M_PI * (i + 0.5) / grooves;
        const QPointF dir(std::sin(a), -std::cos(a));
        p.setPen(QPen(QColor(10, 10, 12, 210), std::max(0.9, 1.4 * s), Qt::SolidLine, Qt::FlatCap));
        p.drawLine(centre + dir * rimInner, centre + dir * (outerR + 1.0));
    }
    p.setPen(QPen(QColor(0, 0, 0, 120), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, outerR - 0.5, outerR - 0.5);

    // Skirt bevel between the rim and the cap.
    const double bevelR = outerR * 0.84;
    QLinearGradient bevel(centre - QPointF(bevelR, bevelR), centre + QPointF(bevelR, bevelR));
    bevel.setColorAt(0.0, QColor(118, 122, 130));
    bevel.setColorAt(1.0, QColor(30, 31, 35));
    p.setPen(Qt::NoPen);
    p.setBrush(bevel);
    p.drawEllipse(centre, bevelR, bevelR);

    // Cap: slightly dished, satin finish.
    const double capR = outerR * 0.76;
    QRadialGradient capFill(centre - QPointF(capR * 0.35, capR * 0.45), capR * 1.5);
    const QColor capBase = disabled ? QColor(70, 72, 76) : QColor(64, 68, 75);
    capFill.setColorAt(0.0, capBase.lighter(150));
    capFill.setColorAt(0.6, capBase);
    capFill.setColorAt(1.0, capBase.darker(140));
    p.setBrush(capFill);
    p.drawEllipse(centre, capR, capR);
    p.setBrush(Qt::NoBrush);
    for (double r = capR * 0.18; r < capR; r += std::max(1.5, 2.6 * s)) {
        p.setPen(QPen(QColor(255, 255, 255, 7), 1.0));
        p.drawEllipse(centre, r, r);
    }

    if (!disabled) {
        const double bearing = qDegreesToRadians(30.0 * (notch - 1));
        const QPointF dir(std::sin(bearing), -std::cos(bearing));
        // Finger dimple, lit on the far side from the light.
        const QPointF dimple = centre + dir * (capR * 0.56);
        const double dimpleR = capR * 0.17;
        QRadialGradient dimpleFill(dimple + QPointF(dimpleR * 0.35, dimpleR * 0.45), dimpleR * 1.2);
        dimpleFill.setColorAt(0.0, capBase.lighter(125));
        dimpleFill.setColorAt(1.0, capBase.darker(190));
        p.setPen(Qt::NoPen);
        p.setBrush(dimpleFill);
        p.drawEllipse(dimple, dimpleR, dimpleR);
        // Pointer line on the rim side of the dimple.
        QPen mark(Palette::Accent(), std::max(2.0, 4.0 * s), Qt::SolidLine, Qt::RoundCap);
        p.setPen(mark);
        p.drawLine(centre + dir * (capR * 0.80), centre + dir * (capR * 0.96));
    }
    p.end();

    CutToOutline(image, outline);
    return image;
}

// ---------------------------------------------------------------- panel

void DrawCase(QImage &image, double scale)
{
    const QColor backdrop(30, 31, 34);
    image.fill(backdrop);
    const QRectF r(1.0, 1.0, image.width() - 2.0, image.height() - 2.0);
    const double radius = 26.0 * scale;
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient body(r.topLeft(), r.bottomLeft());
        body.setColorAt(0.0, Palette::CaseBase().lighter(112));
        body.setColorAt(1.0, Palette::CaseBase().darker(112));
        p.setPen(Qt::NoPen);
        p.setBrush(body);
        p.drawRoundedRect(r, radius, radius);
    }
    const QRgb bg = backdrop.rgb();
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (row[x] == bg)
                continue;
            const int g = Grain(x, y);
            row[x] =
                qRgb(std::clamp(qRed(row[x]) + g, 0, 254), std::clamp(qGreen(row[x]) + g, 0, 254),
                     std::clamp(qBlue(row[x]) + g, 0, 254));
        }
    }
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    // Bevel: lit edge at the top left, shaded edge at the bottom right.
    const double w = std::max(1.5, 3.0 * scale);
    QLinearGradient edge(r.topLeft(), r.bottomRight());
    edge.setColorAt(0.0, QColor(255, 255, 255, 70));
    edge.setColorAt(0.5, QColor(255, 255, 255, 10));
    edge.setColorAt(1.0, QColor(0, 0, 0, 110));
    p.setPen(QPen(QBrush(edge), w));
    p.drawRoundedRect(r.adjusted(w / 2, w / 2, -w / 2, -w / 2), radius - w / 2, radius - w / 2);
    p.setPen(QPen(QColor(0, 0, 0, 90), 1.0));
    p.drawRoundedRect(r, radius, radius);
}

void DrawBezel(QPainter &p, const QRect &screen, double scale)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF glass(screen);
    const double b = 9.0 * scale;
    const QRectF frame = glass.adjusted(-b, -b, b, b);
    const double radius = 8.0 * scale;
    QLinearGradient fill(frame.topLeft(), frame.bottomLeft());
    fill.setColorAt(0.0, QColor(40, 42, 46));
    fill.setColorAt(1.0, QColor(24, 25, 28));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(frame, radius, radius);
    // Raised lip: light above, shade below.
    QLinearGradient lip(frame.topLeft(), frame.bottomRight());
    lip.setColorAt(0.0, QColor(255, 255, 255, 60));
    lip.setColorAt(1.0, QColor(0, 0, 0, 120));
    p.setPen(QPen(QBrush(lip), std::max(1.0, 1.5 * scale)));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(frame.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    // The glass sits in a thin black gasket.
    p.setPen(QPen(QColor(4, 5, 6), std::max(1.0, 2.0 * scale)));
    p.drawRect(glass.adjusted(-1, -1, 1, 1));
    p.restore();
    p.fillRect(screen, Palette::Glass());
}

void DrawIdleScreen(QPainter &p, const QRect &screen, double scale)
{
    p.save();
    p.setClipRect(screen);
    QLinearGradient glass(screen.topLeft(), screen.bottomLeft());
    glass.setColorAt(0.0, QColor(14, 19, 26));
    glass.setColorAt(1.0, QColor(7, 9, 12));
    p.fillRect(screen, glass);

    // Faint graticule, 10 x 8 divisions.
    const QRectF plot = QRectF(screen).adjusted(screen.width() * 0.06, screen.height() * 0.1,
                                                -screen.width() * 0.06, -screen.height() * 0.1);
    p.setPen(QPen(QColor(40, 56, 72), 1.0, Qt::DotLine));
    for (int i = 0; i <= 10; ++i) {
        const double x = std::round(plot.left() + plot.width() * i / 10.0) + 0.5;
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
    for (int i = 0; i <= 8; ++i) {
        const double y = std::round(plot.top() + plot.height() * i / 8.0) + 0.5;
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }

    if (CanDrawText()) {
        const QRectF centreBox = QRectF(screen).adjusted(0, -24 * scale, 0, -24 * scale);
        QFont title = LegendFont(30.0 * scale, true, false);
        DrawCentredText(p, centreBox, QStringLiteral("No picture"), title, QColor(150, 170, 190));
        QFont hint = LegendFont(15.0 * scale, false, false);
        DrawCentredText(p, centreBox.translated(0, 40 * scale),
                        QStringLiteral("Right-click the panel, choose Connect, then Start"), hint,
                        QColor(110, 128, 146));
    }
    p.restore();
}

void DrawWell(QPainter &p, const QPainterPath &keyOutline, double scale)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double m = std::max(2.0, 3.5 * scale);
    const QPainterPath well = Offset(keyOutline, m);
    // The case's rim shades the top left of the recess and catches light at the bottom right.
    const QRectF box = well.boundingRect();
    QLinearGradient rim(box.topLeft(), box.bottomRight());
    rim.setColorAt(0.0, QColor(12, 13, 15));
    rim.setColorAt(0.7, QColor(30, 32, 35));
    rim.setColorAt(1.0, QColor(84, 88, 95));
    p.fillPath(well, rim);
    p.fillPath(Offset(keyOutline, 1.0), Palette::WellFloor());
    p.restore();
}

void DrawKnobWell(QPainter &p, const QPointF &center, double radius, double scale)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double m = std::max(2.0, 4.0 * scale);
    QLinearGradient rim(center - QPointF(radius + m, radius + m),
                        center + QPointF(radius + m, radius + m));
    rim.setColorAt(0.0, QColor(12, 13, 15));
    rim.setColorAt(0.7, QColor(30, 32, 35));
    rim.setColorAt(1.0, QColor(84, 88, 95));
    p.setPen(Qt::NoPen);
    p.setBrush(rim);
    p.drawEllipse(center, radius + m, radius + m);
    p.setBrush(Palette::WellFloor());
    p.drawEllipse(center, radius + 1.0, radius + 1.0);
    // The case's lip around the recess catches the light on the far side.
    QLinearGradient lip(center - QPointF(radius, radius), center + QPointF(radius, radius));
    lip.setColorAt(0.0, QColor(255, 255, 255, 40));
    lip.setColorAt(0.5, QColor(255, 255, 255, 0));
    lip.setColorAt(1.0, QColor(255, 255, 255, 22));
    p.setPen(QPen(QBrush(lip), std::max(1.0, 1.2 * scale)));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(center, radius + m + 0.6, radius + m + 0.6);
    p.restore();
}

void DrawGuideMark(QPainter &p, const QPointF &from, const QPointF &to, double scale)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(104, 109, 117), std::max(1.0, 1.3 * scale), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to);
    p.restore();
}

void DrawBrand(QPainter &p, const QRectF &area, const QString &model, double scale,
               Qt::Alignment align)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    // A slightly sunken plate: shaded along the top left, lit along the bottom right.
    const double radius = 5.0 * scale;
    QLinearGradient plate(area.topLeft(), area.bottomLeft());
    plate.setColorAt(0.0, Palette::CaseDark());
    plate.setColorAt(1.0, Palette::CaseDark().lighter(112));
    p.setPen(Qt::NoPen);
    p.setBrush(plate);
    p.drawRoundedRect(area, radius, radius);
    QLinearGradient edge(area.topLeft(), area.bottomRight());
    edge.setColorAt(0.0, QColor(0, 0, 0, 110));
    edge.setColorAt(1.0, QColor(255, 255, 255, 50));
    p.setPen(QPen(QBrush(edge), std::max(1.0, 1.2 * scale)));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(area.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    if (!CanDrawText()) {
        p.restore();
        return;
    }
    const double pad = 8.0 * scale;
    const QRectF inner = area.adjusted(pad, pad * 0.6, -pad, -pad * 0.6);
    QFont brand = FitFont(QStringLiteral("QUORVEX"), 16.0 * scale, inner.width() * 0.8, true);
    brand.setLetterSpacing(QFont::AbsoluteSpacing, 2.5 * scale);
    const QFontMetricsF bm(brand);
    QFont line = FitFont(model, std::max(7.0, 9.0 * scale), inner.width(), false, 6.0);
    const QFontMetricsF lm(line);
    const double total = bm.height() + lm.height();
    const double top = inner.center().y() - total / 2.0;
    p.setFont(brand);
    p.setPen(QColor(214, 218, 224));
    p.drawText(QRectF(inner.left(), top, inner.width(), bm.height()), align | Qt::AlignVCenter,
               QStringLiteral("QUORVEX"));
    p.setFont(line);
    p.setPen(Palette::Accent());
    p.drawText(QRectF(inner.left(), top + bm.height(), inner.width(), lm.height()),
               align | Qt::AlignVCenter, model);
    p.restore();
}

void DrawPanelLegend(QPainter &p, const QPointF &center, const QString &text, double pixelSize,
                     double maxWidth)
{
    if (!CanDrawText())
        return;
    const QFont font = FitFont(text, pixelSize, maxWidth, false, 5.0);
    const QFontMetricsF fm(font);
    const double w = fm.horizontalAdvance(text) + 4.0;
    const QRectF box(center.x() - w / 2, center.y() - fm.height() / 2, w, fm.height());
    DrawCentredText(p, box, text, font, Palette::PanelText());
}

// ---------------------------------------------------------------- placeholder and icons

QImage DrawPlaceholder(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    DrawIdleScreen(p, QRect(QPoint(0, 0), size), size.width() / 800.0);
    return image;
}

QImage DrawStatusIcon(bool connected, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    // A round badge carrying a plug: green when linked, grey and struck through in red when not.
    const QColor badge = connected ? QColor(34, 150, 64) : QColor(128, 132, 138);
    QRadialGradient fill(QPointF(6.0, 5.0), 10.0);
    fill.setColorAt(0.0, badge.lighter(135));
    fill.setColorAt(1.0, badge.darker(115));
    p.setPen(QPen(badge.darker(170), 1.0));
    p.setBrush(fill);
    p.drawEllipse(QPointF(8.0, 8.0), 7.2, 7.2);

    const QColor glyph(250, 250, 250);
    p.setPen(Qt::NoPen);
    p.setBrush(glyph);
    p.drawRoundedRect(QRectF(4.8, 6.6, 6.4, 4.2), 1.2, 1.2);
    p.drawRect(QRectF(5.9, 3.6, 1.3, 3.2));
    p.drawRect(QRectF(8.8, 3.6, 1.3, 3.2));
    p.drawRect(QRectF(7.3, 10.6, 1.4, 2.6));
    if (!connected) {
        p.setPen(QPen(QColor(214, 40, 36), 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3.4, 12.6), QPointF(12.6, 3.4));
    }
    return image;
}

QImage DrawAppIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double u = size / 64.0;
    // Handheld body.
    const QRectF body(4 * u, 6 * u, 56 * u, 52 * u);
    QLinearGradient shell(body.topLeft(), body.bottomLeft());
    shell.setColorAt(0.0, QColor(86, 92, 102));
    shell.setColorAt(1.0, QColor(40, 43, 48));
    p.setPen(QPen(QColor(20, 21, 24), std::max(1.0, 1.2 * u)));
    p.setBrush(shell);
    p.drawRoundedRect(body, 8 * u, 8 * u);
    // Screen with a spectrum trace.
    const QRectF screen(10 * u, 12 * u, 34 * u, 28 * u);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(10, 16, 26));
    p.drawRoundedRect(screen, 2 * u, 2 * u);
    QPainterPath trace;
    const double base = screen.bottom() - 4 * u;
    trace.moveTo(screen.left() + 2 * u, base);
    const double pts[][2] = {{6, 0},  {10, 1}, {13, 3}, {15, 19},  {17, 3},
                             {20, 1}, {24, 6}, {26, 1}, {30, 0.5}, {32, 0}};
    for (const auto &pt : pts)
        trace.lineTo(screen.left() + pt[0] * u, base - pt[1] * u);
    p.setPen(QPen(QColor(250, 206, 60), std::max(1.0, 1.8 * u), Qt::SolidLine, Qt::RoundCap,
                  Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(trace);
    // Knob and keys.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 204, 210));
    p.drawEllipse(QPointF(52 * u, 20 * u), 5 * u, 5 * u);
    p.setBrush(Palette::Accent());
    for (int i = 0; i < 3; ++i)
        p.drawRoundedRect(QRectF(47 * u, (31 + i * 7) * u, 10 * u, 4.5 * u), 1.5 * u, 1.5 * u);
    p.setBrush(QColor(150, 156, 166));
    for (int i = 0; i < 4; ++i)
        p.drawRoundedRect(QRectF((10 + i * 9) * u, 45 * u, 7 * u, 6 * u), 1.5 * u, 1.5 * u);
    return image;
}

} // namespace res::art
