#include "CKnobButton.h"

#include "IKeyCommandSink.h"

#include <QMouseEvent>
#include <algorithm>
#include <cstdlib>

namespace {
constexpr const char *kStepLeft = "KEYP:LEFT";
constexpr const char *kStepRight = "KEYP:RIGH";
} // namespace

CKnobButton::CKnobButton(QWidget *parent, int controlId) : CQxButton(parent, controlId)
{
    setFocusPolicy(Qt::NoFocus);
}

void CKnobButton::SetKnobGeometry(const int ids[13])
{
    // The panel's own size: the knob's centre is a panel point whatever the zoom.
    const QSize size = PanelRect().size();
    const int r = std::min(size.width(), size.height());
    m_ptCenter = QPoint(r / 2, r / 2);
    std::copy(ids, ids + 13, m_nImageIds);
    LoadFaces();
}

int CKnobButton::AngleFromPoint(int x, int y) const
{
    return knob::AngleFromPoint(m_ptCenter.x(), m_ptCenter.y(), x, y);
}

void CKnobButton::Step(int steps)
{
    if (steps == 0)
        return;
    for (int i = 0; i < std::abs(steps); ++i) {
        if (m_pOwner)
            m_pOwner->SendKeyCommand(steps < 0 ? kStepLeft : kStepRight);
    }
    m_nPosition =
        ((m_nPosition - 1 + steps) % knob::kNotches + knob::kNotches) % knob::kNotches + 1;
    LoadFaces();
    repaint();
}

void CKnobButton::LoadFaces()
{
    const int face = m_nImageIds[m_nPosition];
    SetBitmaps(face, face, face, m_nImageIds[0]);
}

// The press grabs the mouse for the knob, so the release comes here wherever it happens and
// always ends the drag.
void CKnobButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_bDragging = 1;
        const QPoint p = ToPanelLocal(event->position().toPoint());
        m_drag.Begin(AngleFromPoint(p.x(), p.y()));
        event->accept();
        return;
    }
    CQxButton::mousePressEvent(event);
}

void CKnobButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_bDragging = 0;
        setDown(false);
        event->accept();
        return;
    }
    CQxButton::mouseReleaseEvent(event);
}

void CKnobButton::mouseMoveEvent(QMouseEvent *event)
{
    if (m_bDragging && (event->buttons() & Qt::LeftButton)) {
        const QPoint p = ToPanelLocal(event->position().toPoint());
        Step(m_drag.Move(AngleFromPoint(p.x(), p.y())));
        event->accept();
        return;
    }
    m_bDragging = 0;
    CQxButton::mouseMoveEvent(event);
}
