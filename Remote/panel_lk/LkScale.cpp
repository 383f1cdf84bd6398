#include "LkScale.h"

#include "LkKeyTable.h"

#include <algorithm>
#include <cmath>

namespace lk {

namespace {

constexpr float kFactors[kScaleCount] = {1.0f, 0.85f, 0.7f};
constexpr const char *kSuffixes[kScaleCount] = {nullptr, "_085.jpg", "_070.jpg"};
constexpr int kOuterWidth100 = 1290;
constexpr int kOuterHeight100 = 795;
// The caption bar keeps its height at every scale.
constexpr int kCaptionHeight = 25;
constexpr QRect kScreen100{41, 39, kScreenWidth, kScreenHeight};
// Characters of ".jpg" dropped from the screen file's name.
constexpr int kExtensionLength = 4;

bool ValidScale(int scale)
{
    return scale >= 0 && scale < kScaleCount;
}

double Factor(int scale)
{
    return static_cast<double>(ScaleFactor(scale));
}

int Trunc(double value)
{
    return static_cast<int>(std::trunc(value));
}

} // namespace

float ScaleFactor(int scale)
{
    return ValidScale(scale) ? kFactors[scale] : 1.0f;
}

int ScaleLength(int length100, int scale)
{
    return Trunc(static_cast<double>(length100) * Factor(scale));
}

QSize OuterSize(int scale)
{
    return {ScaleLength(kOuterWidth100, scale),
            Trunc(kOuterHeight100 * Factor(scale) + kCaptionHeight)};
}

QRect ScreenRect(int scale)
{
    const double s = Factor(scale);
    const int left = ScaleLength(kScreen100.left(), scale);
    const int top = ScaleLength(kScreen100.top(), scale);
    const int right = Trunc(kScreen100.width() * s + left);
    const int bottom = Trunc(kScreen100.height() * s + top);
    return {QPoint(left, top), QSize(right - left, bottom - top)};
}

QRect KeyRect(int id, int scale)
{
    const LkKey *key = FindKey(id);
    if (!key)
        return {};
    const QRect &r = key->rect100;
    return {ScaleLength(r.x(), scale), ScaleLength(r.y(), scale), ScaleLength(r.width(), scale),
            ScaleLength(r.height(), scale)};
}

QSize ScreenPictureSize(int scale)
{
    return {ScaleLength(kScreenWidth, scale), ScaleLength(kScreenHeight, scale)};
}

QSize ScaledDrawSize(int scale)
{
    return {Trunc(kScreenWidth * Factor(scale) + 0.5), ScaleLength(kScreenHeight, scale)};
}

const char *ScaledSuffix(int scale)
{
    return ValidScale(scale) ? kSuffixes[scale] : nullptr;
}

QString ScaledImagePath(const QString &imagePath, int scale, const QString &fallbackFolder)
{
    const char *suffix = ScaledSuffix(scale);
    if (!suffix)
        return {};
    if (imagePath.size() < kExtensionLength)
        return fallbackFolder + QLatin1Char('/') + QLatin1String(suffix);
    return imagePath.left(imagePath.size() - kExtensionLength) + QLatin1String(suffix);
}

QPoint ClickToInstrument(int dx, int dy, int scale)
{
    const double s = Factor(scale);
    const int x = Trunc(dx / s);
    const int y = Trunc(dy / s);
    return {std::clamp(x, 0, kScreenWidth), std::clamp(y, 0, kScreenHeight)};
}

} // namespace lk
