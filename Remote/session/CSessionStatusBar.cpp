#include "CSessionStatusBar.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace {
constexpr int kPaneWidths[CSessionStatusBar::kPaneCount] = {0, 120, 150, 190};
} // namespace

CSessionStatusBar::CSessionStatusBar(QWidget *parent, int pane0Margin) : QStatusBar(parent)
{
    setSizeGripEnabled(false);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setGeometry(0, parent->height() - kHeight, parent->width(), kHeight);

    for (int pane = 0; pane < kPaneCount; ++pane) {
        QWidget *holder = new QWidget(this);
        m_widths[pane] = pane == 0 ? std::max(0, parent->width() - pane0Margin) : kPaneWidths[pane];
        holder->setFixedWidth(m_widths[pane]);
        auto *layout = new QHBoxLayout(holder);
        layout->setContentsMargins(2, 0, 2, 0);
        layout->setSpacing(3);
        if (pane == 1) {
            m_icon = new QLabel(holder);
            m_icon->setFixedSize(16, 16);
            layout->addWidget(m_icon);
        }
        m_panes[pane] = new QLabel(holder);
        layout->addWidget(m_panes[pane], 1);
        addWidget(holder, pane == 0 ? 1 : 0);
    }

    m_busyBox = new QWidget(this);
    auto *busyLayout = new QHBoxLayout(m_busyBox);
    busyLayout->setContentsMargins(0, 0, 0, 0);
    auto *busy = new QProgressBar(m_busyBox);
    busy->setRange(0, 0);
    busy->setFixedSize(80, 14);
    auto *cancel = new QPushButton(tr("Cancel"), m_busyBox);
    cancel->setFocusPolicy(Qt::NoFocus);
    busyLayout->addWidget(busy);
    busyLayout->addWidget(cancel);
    connect(cancel, &QPushButton::clicked, this, &CSessionStatusBar::cancelRequested);
    addPermanentWidget(m_busyBox);
    m_busyBox->hide();

    m_noteTimer = new QTimer(this);
    m_noteTimer->setSingleShot(true);
    connect(m_noteTimer, &QTimer::timeout, this, [this] {
        if (m_panes[0]->text() == m_note)
            m_panes[0]->setText(QStringLiteral(" "));
    });
}

void CSessionStatusBar::ShowNote(const QString &text, int ms)
{
    m_note = text;
    m_panes[0]->setText(text);
    m_noteTimer->stop();
    if (ms > 0)
        m_noteTimer->start(ms);
}

void CSessionStatusBar::SetPane(int pane, const QString &text)
{
    if (pane < 0 || pane >= kPaneCount)
        return;
    m_panes[pane]->setText(text);
    if (pane == 1) {
        // A text longer than its pane ("Reconnecting (12)") borrows the room from pane 0
        // while it shows, instead of being cut off.
        const QMargins margins = m_panes[1]->parentWidget()->layout()->contentsMargins();
        const int needed = m_panes[1]->fontMetrics().horizontalAdvance(text) + m_icon->width() +
                           m_panes[1]->parentWidget()->layout()->spacing() + margins.left() +
                           margins.right() + 2;
        const int extra = std::max(0, needed - m_widths[1]);
        if (extra != m_pane1Extra) {
            m_pane1Extra = extra;
            ApplyWidths();
        }
    }
}

void CSessionStatusBar::ApplyWidths()
{
    for (int pane = 0; pane < kPaneCount; ++pane) {
        const int extra = pane == 1 ? m_pane1Extra : pane == 0 ? -m_pane1Extra : 0;
        m_panes[pane]->parentWidget()->setFixedWidth(std::max(0, m_widths[pane] + extra));
    }
}

QString CSessionStatusBar::PaneText(int pane) const
{
    return pane >= 0 && pane < kPaneCount ? m_panes[pane]->text() : QString();
}

void CSessionStatusBar::SetPaneWidth(int pane, int width)
{
    if (pane < 0 || pane >= kPaneCount)
        return;
    m_widths[pane] = std::max(0, width);
    ApplyWidths();
}

void CSessionStatusBar::SetLinkIcon(const QIcon &icon)
{
    m_icon->setPixmap(icon.pixmap(16, 16));
}

void CSessionStatusBar::ShowBusy(bool busy)
{
    m_busyBox->setVisible(busy);
}
