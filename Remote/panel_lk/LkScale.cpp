#include "LkScale.h"

#include "LkKeyTable.h"

#include <algorithm>
#include <cmath>

namespace lk {

namespace {

constexpr const char *kSuffixes[kScaleCount] = {nullptr, "_085.jpg", "_070.jpg"};
constexpr int kOuterWidth100 = 1290;
constexpr int kOuterHeight100 = 795;
// The caption bar keeps its height at every scale.
constexpr int kCaptionHeight = 25;
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
    return ValidScale(scale) ? res::layout::kScaleFactor[static_cast<std::size_t>(scale)] : 1.0f;
}

int ScaleLength(int length100, int scale)
{
    return res::layout::ScaleLen(length100, scale);
}

QSize OuterSize(int scale)
{
    return {ScaleLength(kOuterWidth100, scale),
            Trunc(kOuterHeight100 * Factor(scale) + kCaptionHeight)};
}

QRect ScreenRect(int scale)
{
    return res::layout::LkScreen(scale);
}

QRect KeyRect(int id, int scale)
{
    QRect r;
    if (id == kKnob) {
        const int side = res::layout::kLkKnobSize[0];
        r = QRect(res::layout::kLkKnobPos100, QSize(side, side));
    } else if (const LkKey *key = FindKey(id)) {
        r = QRect(QPoint(key->x, key->y), res::layout::LkFaceSize(key->cls, 0));
    } else {
        return {};
    }
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
