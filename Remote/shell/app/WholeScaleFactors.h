// The window is scaled by whole factors only, so that the instrument's picture and the
// panel art are drawn pixel for pixel (each pixel doubled at 200 %) instead of resampled.
#pragma once

#include <QByteArray>

// Qt rounds the factor it derives from the screen by the policy set here (down, unless the
// fraction is .75 or more), but takes QT_SCALE_FACTOR, QT_SCREEN_SCALE_FACTORS (which
// desktops set for fractional scaling) and QT_SCALE_FACTOR_ROUNDING_POLICY from the
// environment as given: those are brought to the same rule. Call before the QApplication
// exists.
void KeepWholeScaleFactors();

// `factor` rounded as the policy rounds: down unless the fraction is .75 or more, never
// below 1.
int WholeScaleFactor(double factor);

// A QT_SCREEN_SCALE_FACTORS list ("1.5" or "eDP-1=1.5;HDMI-1=1") with each factor rounded;
// entries Qt would not read are kept as they are.
QByteArray WholeScreenScaleFactors(const QByteArray &list);
