// Arithmetic of the rotary knob: bearings, notches and steps. No window involved.
#pragma once

namespace knob {

inline constexpr int kNotches = 12;

// Bearing in whole degrees (0..359), clockwise from straight up, from (cx, cy) to (x, y) in
// window coordinates (y grows downward). The centre itself counts as 180.
int AngleFromPoint(int cx, int cy, int x, int y);

// Notch 1..12 of a bearing: notch 1 covers 345..359 and 0..14, notch k covers 30k-45..30k-16.
int NotchOfAngle(int angle);

// The signed turn from one bearing to another the short way round: -179..180 degrees.
int ShortestTurn(int from, int to);

// One drag of the knob: the hand's turn is summed from the bearing where the press began, each
// move taken the short way round, and a step is due for every whole 30 degrees of it.
class DragTurn
{
public:
    void Begin(int angle);
    // The steps due after a move to `angle`: positive clockwise, negative counter-clockwise.
    int Move(int angle);

private:
    int m_last = 0;
    int m_turn = 0;
    int m_steps = 0;
};

} // namespace knob
