#include "KnobGeometry.h"

#include <cmath>

namespace knob {

int AngleFromPoint(int cx, int cy, int x, int y)
{
    const int dx = x - cx;
    const int dy = y - cy;
    if (dx == 0)
        return dy < 0 ? 0 : 180;
    double angle = 90.0 - std::atan(-static_cast<double>(dy) / dx) * 180.0 / 3.141592653589793;
    if (dx < 0)
        angle += 180.0;
    while (angle < 0.0)
        angle += 360.0;
    while (angle >= 360.0)
        angle -= 360.0;
    return static_cast<int>(angle);
}

int NotchOfAngle(int angle)
{
    if (angle < 15 || angle >= 345)
        return 1;
    return 2 + (angle - 15) / 30;
}

int ShortestTurn(int from, int to)
{
    int d = (to - from) % 360;
    if (d > 180)
        d -= 360;
    else if (d <= -180)
        d += 360;
    return d;
}

void DragTurn::Begin(int angle)
{
    m_last = angle;
    m_turn = 0;
    m_steps = 0;
}

int DragTurn::Move(int angle)
{
    m_turn += ShortestTurn(m_last, angle);
    m_last = angle;
    const int due = m_turn / 30; // toward zero: a step only for a whole notch's travel
    const int steps = due - m_steps;
    m_steps = due;
    return steps;
}

} // namespace knob
