#include "CScreenView.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

CScreenView::CScreenView(const QImage &placeholder, QWidget *parent)
    : QWidget(parent), m_placeholder(placeholder)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CScreenView::SetPicture(const QImage &picture)
{
    m_picture = picture;
    update();
}

void CScreenView::SetPlaceholder(const QImage &placeholder)
{
    m_placeholder = placeholder;
    update();
}

void CScreenView::SetStale(const QString &text)
{
    if (text == m_stale)
        return;
    m_stale = text;
    update();
}

void CScreenView::SetOverlay(const QString &text)
{
    if (text == m_overlay)
        return;
    m_overlay = text;
    update();
}

void CScreenView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QImage &shown = m_picture.isNull() ? m_placeholder : m_picture;
    // Shown at its own size the picture stays pixel for pixel; a zoomed panel resamples it.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, shown.size() != size());
    if (shown.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(rect(), shown);
    if (!m_overlay.isEmpty())
        PaintOverlay(painter);
    if (m_stale.isEmpty())
        return;
    // The picture stays, dimmed, with a band saying since when it has not changed.
    painter.fillRect(rect(), QColor(0, 0, 0, 96));
    QFont font = painter.font();
    font.setPixelSize(std::max(12, height() / 24));
    font.setBold(true);
    painter.setFont(font);
    const int band = QFontMetrics(font).height() * 2;
    const QRect bandRect(0, (height() - band) / 2, width(), band);
    painter.fillRect(bandRect, QColor(160, 20, 20, 220));
    painter.setPen(Qt::white);
    painter.drawText(bandRect, Qt::AlignCenter, m_stale);
}

void CScreenView::PaintOverlay(QPainter &painter)
{
    // A small dark box in the top left corner, over the screen's title rather than over its
    // clock, soft keys or readings.
    QFont font = painter.font();
    font.setPixelSize(std::clamp(height() / 40, 10, 14));
    font.setStyleHint(QFont::Monospace);
    font.setFamily(QStringLiteral("monospace"));
    painter.setFont(font);
    const QFontMetrics metrics(font);
    constexpr int kMargin = 6;
    constexpr int kPadding = 5;
    const QRect text =
        metrics.boundingRect(QRect(0, 0, width(), height()), Qt::AlignLeft, m_overlay);
    const QRect box(kMargin, kMargin, text.width() + 2 * kPadding, text.height() + 2 * kPadding);
    painter.fillRect(box, QColor(0, 0, 0, 170));
    painter.setPen(QColor(255, 255, 255));
    painter.drawText(box.adjusted(kPadding, kPadding, -kPadding, -kPadding), Qt::AlignLeft,
                     m_overlay);
}
