// The panel's geometry and input: the zoom that maps the panel onto the window, and the
// mouse and keyboard events that become panel keys, screen touches and the menu.
#include "CRemoteDlg.h"

#include "CKnobButton.h"
#include "CQxButton.h"
#include "CScreenView.h"
#include "CSessionStatusBar.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>

namespace {

// A digit or the period of the main keyboard (Shift included: some layouts need it for them).
bool IsDigitRowKey(const QKeyEvent &event)
{
    const int key = event.key();
    const Qt::KeyboardModifiers excluded =
        Qt::KeypadModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    return !(event.modifiers() & excluded) &&
           ((key >= Qt::Key_0 && key <= Qt::Key_9) || key == Qt::Key_Period);
}

} // namespace

// ----------------------------------------------------------------------------------------
// Zoom

void CRemoteDlg::SetPanelSize(QSize size, bool fixedFrame)
{
    m_zoomer.SetPanelSize(size, fixedFrame);
    ApplyZoom();
}

void CRemoteDlg::SetZoom(double factor)
{
    m_zoomer.SetFactor(factor);
    // A zoom chosen in full screen is meant to be seen.
    m_zoomer.SetFullScreen(false);
    ApplyZoom();
}

void CRemoteDlg::SetFullScreen(bool on)
{
    m_zoomer.SetFullScreen(on);
    ApplyZoom();
}

void CRemoteDlg::ApplyZoom()
{
    const PanelZoom &zoom = m_zoomer.Zoom();
    if (m_screen)
        m_screen->setGeometry(zoom.ToWindow(m_rcScreen));
    for (auto &entry : m_keys)
        entry.second->SetZoom(zoom);
    if (m_knob)
        m_knob->SetZoom(zoom);
    if (m_pStatusBar) {
        const int h = CSessionStatusBar::kHeight;
        m_pStatusBar->setGeometry(0, height() - h, width(), h);
        SetPaneWidth(0, width() - m_nPane0Margin);
    }
    update();
}

void CRemoteDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    m_zoomer.OnResized();
    ApplyZoom();
}

bool CRemoteDlg::ScreenOffset(const QPoint &point, QPoint &offset) const
{
    const QRect &r = m_rcScreen;
    if (point.x() < r.left() || point.y() < r.top() || point.x() >= r.left() + r.width() ||
        point.y() >= r.top() + r.height())
        return false;
    offset = point - r.topLeft();
    return true;
}

// ----------------------------------------------------------------------------------------
// Mouse and keyboard

void CRemoteDlg::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        // A key takes its own presses; the menu belongs to the panel around the keys.
        if (qobject_cast<QAbstractButton *>(childAt(event->position().toPoint())))
            return;
        std::unique_ptr<QMenu> menu(BuildContextMenu());
        if (QAction *chosen = menu->exec(event->globalPosition().toPoint()))
            OnCommand(chosen->data().toInt());
        return;
    }
    if (event->button() == Qt::LeftButton && IsStarted(State()) && Link().IsConnected())
        ForwardScreenClick(Zoom().ToPanel(event->position().toPoint()));
    QDialog::mousePressEvent(event);
}

void CRemoteDlg::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept();
}

void CRemoteDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (isMinimized()) {
        windowIcon().paint(&painter, QRect(width() / 2 - 16, height() / 2 - 16, 32, 32));
        return;
    }
    const PanelZoom &zoom = Zoom();
    if (zoom.IsIdentity()) {
        PaintPanel(painter);
        return;
    }
    // Around a panel that does not fill the window: black on a projector, the window's own
    // colour elsewhere.
    painter.fillRect(rect(), IsFullScreen() ? QBrush(Qt::black) : palette().window());
    const QSize panel = m_zoomer.PanelSize();
    const QRect shown = zoom.ToWindow(QRect(QPoint(0, 0), panel));
    if (panel.isEmpty() || shown.isEmpty())
        return;
    painter.setClipRect(shown);
    painter.translate(shown.topLeft());
    painter.scale(double(shown.width()) / panel.width(), double(shown.height()) / panel.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    PaintPanel(painter);
}

void CRemoteDlg::keyPressEvent(QKeyEvent *event)
{
    // Enter would press a default button and Esc would close the panel: neither may.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

bool CRemoteDlg::eventFilter(QObject *watched, QEvent *event)
{
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) &&
        watched->isWidgetType() && static_cast<QWidget *>(watched)->window() == this) {
        if (HandleKey(static_cast<QKeyEvent *>(event)))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

// PC keys standing for panel keys: the pressed face while held, the command on the key-up.
bool CRemoteDlg::HandleKey(QKeyEvent *event)
{
    const int qtKey = event->key();
    if (!IsStarted(State()))
        return qtKey == Qt::Key_Escape || qtKey == Qt::Key_Return || qtKey == Qt::Key_Enter;
    int id = PanelKeyFor(event);
    if (id == 0 && m_digitRowAsKeypad && IsDigitRowKey(*event)) {
        const QKeyEvent pad(event->type(), qtKey, event->modifiers() | Qt::KeypadModifier,
                            event->text(), event->isAutoRepeat(), event->count());
        id = PanelKeyFor(&pad);
    }
    if (id == 0)
        return false;
    switch (m_pcKeys.OnKey(qtKey, event->type() == QEvent::KeyPress, event->isAutoRepeat(),
                           event->timestamp())) {
    case PcKeyTracker::Action::Press:
        ShowKeyHeld(id, true);
        break;
    case PcKeyTracker::Action::Release:
        ShowKeyHeld(id, false);
        OnCommand(id);
        break;
    case PcKeyTracker::Action::Ignore:
        break;
    }
    return true;
}
