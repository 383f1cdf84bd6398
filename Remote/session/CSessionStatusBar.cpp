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
        holder->setFixedWidth(pane == 0 ? std::max(0, parent->width() - pane0Margin)
                                        : kPaneWidths[pane]);
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
    if (pane >= 0 && pane < kPaneCount)
        m_panes[pane]->setText(text);
}

QString CSessionStatusBar::PaneText(int pane) const
{
    return pane >= 0 && pane < kPaneCount ? m_panes[pane]->text() : QString();
}

void CSessionStatusBar::SetPaneWidth(int pane, int width)
{
    if (pane >= 0 && pane < kPaneCount)
        m_panes[pane]->parentWidget()->setFixedWidth(std::max(0, width));
}

void CSessionStatusBar::SetLinkIcon(const QIcon &icon)
{
    m_icon->setPixmap(icon.pixmap(16, 16));
}

void CSessionStatusBar::ShowBusy(bool busy)
{
    m_busyBox->setVisible(busy);
}
