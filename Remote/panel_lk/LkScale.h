// Display-scale arithmetic of the LK panel. Scale index 0, 1, 2 is 100 %, 85 %, 70 %; any
// other index counts as 100 %. A 100 % length L becomes trunc(double(L) * double(s)) with the
// single-precision factor s, so lengths at 70 % (s just below 0.7) can fall one pixel short:
// 800 becomes 559.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

namespace lk {

inline constexpr int kScaleCount = 3;
// The instrument's screen in its own pixels.
inline constexpr int kScreenWidth = 800;
inline constexpr int kScreenHeight = 600;

float ScaleFactor(int scale);
int ScaleLength(int length100, int scale);

// Outer window size: trunc(1290 s) x trunc(795 s + 25).
QSize OuterSize(int scale);
// Where the live screen is drawn: left and top scaled, right and bottom from the scaled
// width and height added to them before truncation.
QRect ScreenRect(int scale);
// The rectangle of a key or of the knob at a scale; an empty rectangle for other IDs.
QRect KeyRect(int id, int scale);
// Size of the scaled screen picture: trunc(800 s) x trunc(600 s).
QSize ScreenPictureSize(int scale);
// Destination of the high-quality scale: width trunc(800 s + 0.5), height trunc(600 s). At 70 %
// this is one column wider than the picture, whose last column is therefore cut.
QSize ScaledDrawSize(int scale);
// "_085.jpg", "_070.jpg", or nullptr at 100 %.
const char *ScaledSuffix(int scale);
// The scaled copy's name: the screen file's path less its last four characters (".jpg") plus
// the suffix. A path shorter than that yields the suffix alone, placed in `fallbackFolder`
// rather than in whatever the current directory happens to be. Empty at 100 %.
QString ScaledImagePath(const QString &imagePath, int scale, const QString &fallbackFolder);
// A click offset inside the screen rectangle, in window pixels, to instrument pixels: divided
// by s, truncated toward zero, x limited to 0..800 and y to 0..600.
QPoint ClickToInstrument(int dx, int dy, int scale);

} // namespace lk
