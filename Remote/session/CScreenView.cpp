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
