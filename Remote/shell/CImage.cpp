#include "CImage.h"

#include "JpegCodec.h"
#include "SafeFile.h"

#include <QFile>
#include <QPainter>

#include <algorithm>

namespace {

enum SaveStatus
{
    kSaveOk = 0,
    kSaveNothing = -1,
    kSaveOpen = -2,
    kSaveEncode = -3,
};

// The largest side accepted from a picture's header; screens are at most a few thousand pixels.
constexpr int kMaxSide = 16384;
constexpr qint64 kMaxFileBytes = qint64(CImage::kMaxAllocationMB) * 1024 * 1024;

QString WithDetail(const char *reason, const QString &detail)
{
    QString text = QString::fromLatin1(reason);
    if (!detail.isEmpty())
        text += QStringLiteral(" (%1)").arg(detail);
    return text;
}

} // namespace

int CImage::Fail(int status, const QString &reason)
{
    m_image = QImage();
    m_loadError = reason;
    return status;
}

int CImage::Load(const QString &path, qint64 maxPixels)
{
    m_image = QImage();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(kLoadNoFile, QStringLiteral("a file that cannot be read"));
    if (file.size() > kMaxFileBytes)
        return Fail(kLoadTooLarge,
                    QStringLiteral("a file of %1 bytes, too large for a screen").arg(file.size()));
    const QByteArray data = file.readAll();
    return LoadFromData(reinterpret_cast<const unsigned char *>(data.constData()),
                        static_cast<int>(data.size()), maxPixels);
}

int CImage::LoadFromData(const unsigned char *data, int length, qint64 maxPixels)
{
    m_image = QImage();
    m_loadError.clear();
    if (!data || length <= 0)
        return Fail(kLoadNotPicture, QStringLiteral("not a JPEG image"));
    const jpeg::Limits limits{std::min(maxPixels, kMaxFileBytes / 4), kMaxSide, kMaxScans};
    jpeg::Decoded decoded = jpeg::Decode(data, std::size_t(length), limits);
    switch (decoded.status) {
    case jpeg::Status::Ok:
        m_image = std::move(decoded.image);
        return kLoadOk;
    case jpeg::Status::NotJpeg:
        return Fail(kLoadNotPicture, QStringLiteral("not a JPEG image"));
    case jpeg::Status::TooLarge:
        return Fail(kLoadTooLarge, QStringLiteral("a JPEG image of %1 x %2 pixels, too large for "
                                                  "a screen")
                                       .arg(decoded.width)
                                       .arg(decoded.height));
    case jpeg::Status::TooManyScans:
        return Fail(kLoadTooManyScans,
                    QStringLiteral("a JPEG image of more than %1 scans").arg(kMaxScans));
    case jpeg::Status::Truncated:
        return Fail(kLoadTruncated, WithDetail("a truncated JPEG image", decoded.detail));
    case jpeg::Status::Corrupt:
        break;
    }
    return Fail(kLoadCorrupt, WithDetail("a corrupt JPEG image", decoded.detail));
}

bool CImage::Create(int width, int height, int bpp)
{
    m_image = QImage();
    // A negative height asks for top-down rows; QImage rows are always top-down.
    const int h = height < 0 ? -height : height;
    if (width <= 0 || h <= 0 || width > kMaxSide || h > kMaxSide)
        return false;
    QImage::Format format;
    switch (bpp) {
    case 32:
        format = QImage::Format_RGB32;
        break;
    case 24:
        format = QImage::Format_RGB888;
        break;
    case 16:
        format = QImage::Format_RGB16;
        break;
    default:
        return false;
    }
    QImage image(width, h, format);
    if (image.isNull())
        return false;
    image.fill(0);
    m_image = std::move(image);
    return true;
}

bool CImage::Draw(QPainter *painter, int x, int y, int dstW, int dstH, int srcW, int srcH) const
{
    if (!painter || m_image.isNull())
        return false;
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter->drawImage(QRect(x, y, dstW, dstH), m_image, QRect(0, 0, srcW, srcH));
    painter->restore();
    return true;
}

int CImage::Save(const QString &path) const
{
    return SaveJpeg(m_image, path);
}

int CImage::SaveJpeg(const QImage &image, const QString &path)
{
    if (image.isNull())
        return kSaveNothing;
    const QByteArray bytes = jpeg::Encode(image);
    if (bytes.isEmpty())
        return kSaveEncode;
    if (!WriteFileNoFollow(path, bytes.constData(), bytes.size()))
        return kSaveOpen;
    return kSaveOk;
}

bool CImage::ScaleHighQuality(CImage &dst, const CImage &src, int dstW, int dstH, int srcW,
                              int srcH)
{
    if (src.IsNull() || dst.IsNull() || dstW <= 0 || dstH <= 0 || srcW <= 0 || srcH <= 0)
        return false;
    const QRect srcRect = QRect(0, 0, srcW, srcH).intersected(src.m_image.rect());
    if (srcRect.isEmpty())
        return false;
    // Qt's smooth scaling averages the covered source area when shrinking and interpolates
    // bilinearly when growing: never a nearest-pixel pick.
    const QImage part = srcRect == src.m_image.rect() ? src.m_image : src.m_image.copy(srcRect);
    const QImage scaled = part.scaled(dstW, dstH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull())
        return false;
    QPainter painter(&dst.m_image);
    if (!painter.isActive())
        return false;
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(0, 0), scaled);
    return true;
}
