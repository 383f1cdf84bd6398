#include "CSimScreen.h"

#include <QBuffer>
#include <QFont>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Dark instrument palette.
const QColor kBackground(8, 12, 20);
const QColor kGrid(48, 64, 80);
const QColor kFrame(110, 130, 150);
const QColor kTrace(255, 220, 40);
const QColor kText(220, 230, 240);
const QColor kDimText(140, 160, 180);
const QColor kHeader(20, 40, 70);
const QColor kSoftKey(30, 44, 62);
const QColor kSoftKeyHighlight(230, 150, 30);
const QColor kMarker(80, 255, 120);
const QColor kTouch(255, 80, 200);
const QColor kLimit(255, 60, 60);
const QColor kEntry(40, 90, 160);

using sim_layout::kHeaderHeight;
using sim_layout::kMenuLeft;
using sim_layout::kMenuRight;
using sim_layout::kStatusHeight;
constexpr int kGraticuleLeft = 56;
constexpr int kGraticuleRight = 648;
constexpr int kBottomBlock = 104;
constexpr int kDivisions = 10;

constexpr double kNoiseFloorDbm = -92.0;
constexpr double kDistanceRangeM = 50.0;
constexpr double kFaultDistanceM = 12.5;

std::string Printf(const char *format, double value)
{
    char text[96];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

QString Q(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CSimScreen::CSimScreen(std::uint32_t seed) : m_rng(seed) {}

void CSimScreen::Reseed(std::uint32_t seed)
{
    m_rng.seed(seed);
    m_heldTrace.clear();
    m_heldMode = -1;
}

QRect CSimScreen::HeaderRect(SimFamily family)
{
    return {0, 0, ScreenSizeOf(family).width, kHeaderHeight};
}

QRect CSimScreen::ClockRect(SimFamily /*family*/)
{
    return {kMenuLeft - 200, 0, 800 - (kMenuLeft - 200), kHeaderHeight};
}

QRect CSimScreen::GraticuleRect(SimFamily family)
{
    const int bottom = ScreenSizeOf(family).height - kBottomBlock;
    return QRect(QPoint(kGraticuleLeft, kHeaderHeight + 12), QPoint(kGraticuleRight, bottom));
}

QRect CSimScreen::MenuTitleRect(SimFamily /*family*/)
{
    return QRect(QPoint(kMenuLeft, kHeaderHeight + 4), QPoint(kMenuRight, kHeaderHeight + 28));
}

QRect CSimScreen::SoftKeyRect(SimFamily family, int index)
{
    const SimRect r = SoftKeyLabelRect(family, index);
    return {r.x, r.y, r.width, r.height};
}

QRect CSimScreen::AnnotationRect(SimFamily family)
{
    const int h = ScreenSizeOf(family).height;
    return QRect(QPoint(kGraticuleLeft - 48, h - kBottomBlock + 22),
                 QPoint(kGraticuleRight, h - kStatusHeight - 4));
}

QRect CSimScreen::StatusRect(SimFamily family)
{
    const SimScreenSize size = ScreenSizeOf(family);
    return {0, size.height - kStatusHeight, size.width, kStatusHeight};
}

void CSimScreen::ComputeTrace(const CSimPanelState &state, int points)
{
    std::normal_distribution<double> noise(0.0, 1.6);
    const std::string_view mode = state.MeasurementName();
    std::vector<double> fresh(static_cast<std::size_t>(points));
    const double start = state.CenterMHz() - state.SpanMHz() / 2;
    for (int i = 0; i < points; ++i) {
        const double t = points > 1 ? static_cast<double>(i) / (points - 1) : 0.0;
        double value = 0;
        if (mode == "Cable & Antenna: Distance-to-Fault") {
            const double d = t * kDistanceRangeM;
            const double spike = std::exp(-std::pow((d - kFaultDistanceM) / 0.4, 2));
            value = -48.0 + 0.15 * d + 30.0 * spike + noise(m_rng) * 0.6;
        } else if (mode == "Cable & Antenna: Return Loss") {
            value = -18.0 + 6.0 * std::sin(t * 9.0) + noise(m_rng) * 0.4;
        } else if (mode == "Cable & Antenna: VSWR") {
            // Drawn on a dB grid like the others; 1.0..2.0 maps to -100..-10 below.
            const double vswr = 1.25 + 0.35 * std::sin(t * 7.0) * std::sin(t * 7.0);
            value = -100.0 + (vswr - 1.0) * 90.0 + noise(m_rng) * 0.3;
        } else {
            const double f = start + t * state.SpanMHz();
            // A peak about as wide as the resolution bandwidth, at least a few pixels.
            const double width = std::max(state.RbwKHz() / 1000.0,
                                          state.SpanMHz() / static_cast<double>(points) * 3);
            const double peak = std::exp(-std::pow((f - state.SignalMHz()) / width, 2));
            const double noisePower = std::pow(10.0, (kNoiseFloorDbm + noise(m_rng)) / 10.0);
            const double signalPower = std::pow(10.0, state.SignalLevelDbm() / 10.0) * peak;
            value = 10.0 * std::log10(noisePower + signalPower);
        }
        fresh[static_cast<std::size_t>(i)] = value;
    }

    const int traceMode = static_cast<int>(state.TraceMode());
    if (m_heldTrace.size() != fresh.size() || m_heldMode != traceMode) {
        m_heldTrace = fresh;
        m_heldMode = traceMode;
    }
    if (state.Hold() && m_trace.size() == fresh.size())
        return;
    for (std::size_t i = 0; i < fresh.size(); ++i) {
        switch (state.TraceMode()) {
        case SimTraceMode::ClearWrite:
            m_heldTrace[i] = fresh[i];
            break;
        case SimTraceMode::MaxHold:
            m_heldTrace[i] = std::max(m_heldTrace[i], fresh[i]);
            break;
        case SimTraceMode::MinHold:
            m_heldTrace[i] = std::min(m_heldTrace[i], fresh[i]);
            break;
        case SimTraceMode::Average:
            m_heldTrace[i] = 0.8 * m_heldTrace[i] + 0.2 * fresh[i];
            break;
        }
    }
    m_trace = m_heldTrace;
}

QImage CSimScreen::Render(const CSimPanelState &state, std::uint64_t frame, const QTime &clock)
{
    const SimFamily family = state.Family();
    const SimScreenSize size = ScreenSizeOf(family);
    QImage image(size.width, size.height, QImage::Format_RGB32);
    image.fill(kBackground);

    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    QFont font("DejaVu Sans");
    font.setPixelSize(13);
    p.setFont(font);

    // Header: measurement, clock and frame counter.
    const QRect header = HeaderRect(family);
    p.fillRect(header, kHeader);
    QFont bold = font;
    bold.setBold(true);
    bold.setPixelSize(15);
    p.setFont(bold);
    p.setPen(kText);
    p.drawText(header.adjusted(8, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
               Q(state.MeasurementName()));
    p.setFont(font);
    const QString clockText =
        QString("%1  #%2").arg(clock.toString("hh:mm:ss.zzz")).arg(static_cast<qulonglong>(frame));
    p.drawText(ClockRect(family).adjusted(0, 0, -8, 0), Qt::AlignVCenter | Qt::AlignRight,
               clockText);

    // Graticule.
    const QRect g = GraticuleRect(family);
    p.setPen(kGrid);
    for (int i = 1; i < kDivisions; ++i) {
        const int x = g.left() + g.width() * i / kDivisions;
        const int y = g.top() + g.height() * i / kDivisions;
        p.drawLine(x, g.top(), x, g.bottom());
        p.drawLine(g.left(), y, g.right(), y);
    }
    p.setPen(kFrame);
    p.drawRect(g);

    // Vertical scale: reference level at the top, 10 dB per division.
    const double top = state.IsCableAntenna() ? 0.0 : state.RefLevelDbm();
    const double perDiv = 10.0;
    p.setPen(kDimText);
    QFont small = font;
    small.setPixelSize(10);
    p.setFont(small);
    for (int i = 0; i <= kDivisions; i += 2) {
        const int y = g.top() + g.height() * i / kDivisions;
        p.drawText(QRect(0, y - 7, kGraticuleLeft - 4, 14), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(top - perDiv * i, 'f', 0));
    }
    p.setFont(font);

    // Trace.
    const int points = g.width() - 1;
    ComputeTrace(state, points);
    auto yOf = [&](double db) {
        const double frac = (top - db) / (perDiv * kDivisions);
        return std::clamp(g.top() + static_cast<int>(frac * g.height()), g.top(), g.bottom());
    };
    QPainterPath path;
    for (int i = 0; i < points; ++i) {
        const QPointF pt(g.left() + 1 + i, yOf(m_trace[static_cast<std::size_t>(i)]));
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
    }
    p.setPen(QPen(kTrace, 1.5));
    p.setRenderHint(QPainter::Antialiasing, true);
    p.drawPath(path);
    p.setRenderHint(QPainter::Antialiasing, false);

    if (state.LimitOn()) {
        p.setPen(QPen(kLimit, 1, Qt::DashLine));
        const int y = yOf(top - 3.5 * perDiv);
        p.drawLine(g.left(), y, g.right(), y);
    }

    // Marker on the trace, with its readout.
    const double start = state.CenterMHz() - state.SpanMHz() / 2;
    if (state.MarkerOn() && !state.IsCableAntenna() && state.SpanMHz() > 0) {
        const double frac = (state.MarkerMHz() - start) / state.SpanMHz();
        const int i = std::clamp(static_cast<int>(frac * (points - 1)), 0, points - 1);
        const int x = g.left() + 1 + i;
        const double level = m_trace[static_cast<std::size_t>(i)];
        const int y = yOf(level);
        QPolygon diamond;
        diamond << QPoint(x, y - 12) << QPoint(x + 6, y - 6) << QPoint(x, y)
                << QPoint(x - 6, y - 6);
        p.setBrush(kMarker);
        p.setPen(kMarker);
        p.drawPolygon(diamond);
        p.setBrush(Qt::NoBrush);
        const std::string readout = Printf("M1  %.3f MHz", state.MarkerMHz()) +
                                    Printf("  %.2f dBm", level) +
                                    (state.MarkerAtPeak() ? "  (Peak)" : "");
        p.drawText(g.adjusted(8, 4, -8, 0), Qt::AlignTop | Qt::AlignLeft, Q(readout));
    }

    // Annotations.
    const QRect ann = AnnotationRect(family);
    p.setPen(kText);
    std::string line1;
    std::string line2;
    if (state.MeasurementName() == "Cable & Antenna: Distance-to-Fault") {
        line1 = Printf("Start 0.00 m      Stop %.2f m", kDistanceRangeM);
        line2 = Printf("Center %.3f MHz", state.CenterMHz());
    } else {
        line1 = Printf("Center %.3f MHz", state.CenterMHz()) +
                Printf("      Span %.3f MHz", state.SpanMHz());
        line2 = Printf("RBW %.1f kHz", state.RbwKHz()) +
                Printf("      Ref %.1f dBm", state.RefLevelDbm());
    }
    p.drawText(ann.adjusted(0, 0, 0, -ann.height() / 2), Qt::AlignLeft | Qt::AlignVCenter,
               Q(line1));
    p.drawText(ann.adjusted(0, ann.height() / 2, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, Q(line2));
    const char *traceName[] = {"Clear/Write", "Max Hold", "Min Hold", "Average"};
    QString flags = QString("Trace: %1").arg(traceName[static_cast<int>(state.TraceMode())]);
    if (state.Hold())
        flags += "  HOLD";
    if (state.AutoSave())
        flags += "  AUTOSAVE";
    p.setPen(kDimText);
    p.drawText(ann, Qt::AlignRight | Qt::AlignBottom, flags);

    // Soft-key menu column.
    p.setPen(kText);
    p.setFont(bold);
    p.drawText(MenuTitleRect(family), Qt::AlignCenter, Q(state.MenuTitle()));
    p.setFont(font);
    const auto labels = state.SoftKeyLabels();
    for (int i = 0; i < CSimPanelState::kSoftKeys; ++i) {
        const QRect r = SoftKeyRect(family, i);
        const bool lit = i == state.HighlightedSoftKey();
        p.fillRect(r, lit ? kSoftKeyHighlight : kSoftKey);
        p.setPen(kFrame);
        p.drawRect(r.adjusted(0, 0, -1, -1));
        p.setPen(lit ? kBackground : kText);
        p.drawText(r.adjusted(4, 0, -4, 0), Qt::AlignCenter | Qt::TextWordWrap,
                   Q(labels[static_cast<std::size_t>(i)]));
    }

    // Status line, with the numeric entry field when one is open.
    const QRect status = StatusRect(family);
    p.fillRect(status, kHeader);
    p.setPen(kText);
    p.drawText(status.adjusted(8, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, Q(state.Status()));
    if (state.EntryActive()) {
        const QRect entry(status.right() - 300, status.top() + 3, 292, status.height() - 6);
        p.fillRect(entry, kEntry);
        p.drawText(entry.adjusted(6, 0, -6, 0), Qt::AlignVCenter | Qt::AlignLeft,
                   Q(state.EntryLabel()) + ": " + Q(state.EntryText()) + "_");
    }

    // Touch cross-hair where the screen was last touched.
    if (auto touch = state.Touch()) {
        p.setPen(QPen(kTouch, 2));
        p.drawLine(touch->x - 14, touch->y, touch->x + 14, touch->y);
        p.drawLine(touch->x, touch->y - 14, touch->x, touch->y + 14);
        p.drawEllipse(QPoint(touch->x, touch->y), 8, 8);
    }
    p.end();
    return image;
}

QByteArray CSimScreen::EncodeJpeg(const QImage &image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(image))
        return {};
    return bytes;
}
