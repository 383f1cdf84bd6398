#include "CScreenView.h"

#include <QPainter>

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

void CScreenView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QImage &shown = m_picture.isNull() ? m_placeholder : m_picture;
    if (shown.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(rect(), shown);
}
