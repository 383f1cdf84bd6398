#include "LkScreenPicture.h"

#include "AreaScale.h"
#include "CImage.h"
#include "LkScale.h"

namespace lk {

QImage ScaleScreenPicture(const QImage &decoded, int scale)
{
    if (decoded.isNull())
        return {};
    if (ScaledSuffix(scale) == nullptr) {
        if (decoded.size() == QSize(kScreenWidth, kScreenHeight))
            return decoded;
        return decoded.scaled(kScreenWidth, kScreenHeight, Qt::IgnoreAspectRatio,
                              Qt::FastTransformation);
    }
    const QSize pictureSize = ScreenPictureSize(scale);
    const QSize drawSize = ScaledDrawSize(scale);
    // A shrink to no less than half in both directions, the instrument's own case, averages
    // the covered areas straight into a picture of pictureSize.
    if (QImage shrunk = AreaScaleDown(decoded, drawSize, pictureSize); !shrunk.isNull())
        return shrunk;
    // The same pixels as scaling into a blank 32-bit picture of pictureSize, without the blank
    // picture and the copy into it: the draw covers all of it (as high, at least as wide).
    QImage scaled = decoded.scaled(drawSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull())
        return {};
    if (scaled.format() != QImage::Format_RGB32)
        scaled = scaled.convertToFormat(QImage::Format_RGB32);
    if (scaled.size() != pictureSize)
        scaled = scaled.copy(QRect(QPoint(0, 0), pictureSize));
    return scaled;
}

bool SaveScaledCopy(const QImage &scaled, const QString &path)
{
    return CImage::SaveJpeg(scaled, path) == 0;
}

} // namespace lk
