// The painted rotary knob: dragging the pointer around its centre turns it one notch per
// 30 degrees and sends one step command per notch turned.
#pragma once

#include "CQxButton.h"
#include "KnobGeometry.h"

#include <QPoint>

class IKeyCommandSink;

class CKnobButton : public CQxButton
{
    Q_OBJECT
public:
    explicit CKnobButton(QWidget *parent = nullptr, int controlId = 0);

    // ids[0] the disabled face, ids[1..12] the faces of notches 1..12. The centre comes from
    // the control's current size on the panel, so call it after placing the control. Points
    // of a zoomed knob count as the panel points they show.
    void SetKnobGeometry(const int ids[13]);
    int AngleFromPoint(int x, int y) const;
    // Turns the knob by `steps` notches (positive clockwise), one command per notch.
    void Step(int steps);

    int Position() const { return m_nPosition; }
    bool IsDragging() const { return m_bDragging != 0; }
    QPoint Center() const { return m_ptCenter; }

    IKeyCommandSink *m_pOwner = nullptr;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void LoadFaces();

    int m_nImageIds[13] = {};
    int m_nPosition = 1;
    QPoint m_ptCenter;
    unsigned char m_bDragging = 0;
    knob::DragTurn m_drag;
};
