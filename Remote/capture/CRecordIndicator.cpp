#include "CRecordIndicator.h"

#include <QHBoxLayout>
#include <QLabel>

namespace {
constexpr const char *kDot = "\u25CF";
constexpr const char *kDotStyle = "color: #d01010;";
} // namespace

CRecordIndicator::CRecordIndicator(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(4);
    m_dot = new QLabel(QString::fromUtf8(kDot), this);
    m_dot->setStyleSheet(QString::fromLatin1(kDotStyle));
    m_text = new QLabel(this);
    layout->addWidget(m_dot);
    layout->addWidget(m_text);
    SetFigures(0, 0);
}

QString CRecordIndicator::Figures(qint64 elapsedMs, qint64 bytes)
{
    const qint64 seconds = std::max<qint64>(0, elapsedMs) / 1000;
    const QString time =
        QString::asprintf("%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    constexpr double kKB = 1024.0;
    const double b = double(std::max<qint64>(0, bytes));
    QString size;
    if (b < kKB * kKB)
        size = QString::asprintf("%.0f KB", b / kKB);
    else if (b < kKB * kKB * kKB)
        size = QString::asprintf("%.1f MB", b / (kKB * kKB));
    else
        size = QString::asprintf("%.2f GB", b / (kKB * kKB * kKB));
    return time + QStringLiteral("  ") + size;
}

void CRecordIndicator::SetFigures(qint64 elapsedMs, qint64 bytes)
{
    m_text->setText(Figures(elapsedMs, bytes));
}

QString CRecordIndicator::Text() const
{
    return m_text->text();
}
