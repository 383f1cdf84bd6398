#include "CKnobButton.h"

#include "CRemoteDlg.h"
#include "KnobGeometry.h"

#include <QMouseEvent>
#include <algorithm>

namespace {
constexpr const char *kStepLeft = "KEYP:LEFT";
constexpr const char *kStepRight = "KEYP:RIGH";
} // namespace

CKnobButton::CKnobButton(QWidget *parent, int controlId) : CQxButton(parent, controlId)
{
    // Dragging survives a release outside the knob, so moves must arrive without a button.
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

void CKnobButton::SetKnobGeometry(const int ids[13])
{
    const int r = std::min(width(), height());
    m_ptCenter = QPoint(r / 2, r / 2);
    std::copy(ids, ids + 13, m_nImageIds);
    LoadFaces();
}

int CKnobButton::AngleFromPoint(int x, int y) const
{
    return knob::AngleFromPoint(m_ptCenter.x(), m_ptCenter.y(), x, y);
}

void CKnobButton::StepTo(int angle)
{
    const int notch = knob::NotchOfAngle(angle);
    if (notch == m_nPosition)
        return;
    const int d = knob::StepDelta(m_nPosition, notch);
    for (int i = 0; i < std::abs(d); ++i) {
        if (m_pOwner)
            m_pOwner->SendKeyCommand(d < 0 ? kStepLeft : kStepRight);
    }
    m_nPosition = notch;
    LoadFaces();
    repaint();
}

void CKnobButton::LoadFaces()
{
    const int face = m_nImageIds[m_nPosition];
    SetBitmaps(face, face, face, m_nImageIds[0]);
}

void CKnobButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && !m_bDragging) {
        m_bDragging = 1;
        event->accept();
        return;
    }
    CQxButton::mousePressEvent(event);
}

void CKnobButton::mouseReleaseEvent(QMouseEvent *event)
{
    // The knob holds no capture: a release away from it is not the knob's and dragging stays.
    const bool onKnob = rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton && m_bDragging && onKnob) {
        m_bDragging = 0;
        // A press passed on while dragging would otherwise leave the face held down.
        setDown(false);
        event->accept();
        return;
    }
    if (!onKnob) {
        event->accept();
        return;
    }
    CQxButton::mouseReleaseEvent(event);
}

void CKnobButton::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (m_bDragging) {
        if (rect().contains(p))
            StepTo(AngleFromPoint(p.x(), p.y()));
        event->accept();
        return;
    }
    CQxButton::mouseMoveEvent(event);
}
