// Arithmetic of the rotary knob: bearings, notches and steps. No window involved.
#pragma once

namespace knob {

inline constexpr int kNotches = 12;

// Bearing in whole degrees (0..359), clockwise from straight up, from (cx, cy) to (x, y) in
// window coordinates (y grows downward). The centre itself counts as 180.
int AngleFromPoint(int cx, int cy, int x, int y);

// Notch 1..12 of a bearing: notch 1 covers 345..359 and 0..14, notch k covers 30k-45..30k-16.
int NotchOfAngle(int angle);

// Signed number of steps from one notch to another: negative counter-clockwise. Only a single
// step across the 12-to-1 boundary wraps; a jump from 12 to 2 is ten steps back.
int StepDelta(int from, int to);

} // namespace knob
