#include "CImage.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>
#include <mutex>

namespace {

enum LoadStatus
{
    kLoadOk = 0,
    kLoadNoFile = -1,
    kLoadNotPicture = -2,
    kLoadTooLarge = -3,
    kLoadTruncated = -4,
};

enum SaveStatus
{
    kSaveOk = 0,
    kSaveNothing = -1,
    kSaveOpen = -2,
    kSaveEncode = -3,
    kSaveCommit = -4
};

// The largest side accepted from a picture's header; screens are at most a few thousand pixels.
constexpr int kMaxSide = 16384;
constexpr qint64 kMaxFileBytes = qint64(CImage::kMaxAllocationMB) * 1024 * 1024;

bool IsJpeg(const QByteArray &data)
{
    return data.size() >= 3 && static_cast<unsigned char>(data[0]) == 0xFF &&
           static_cast<unsigned char>(data[1]) == 0xD8 &&
           static_cast<unsigned char>(data[2]) == 0xFF;
}

// A JPEG whose last scan has no end-of-image marker after it was cut short in transfer; the
// decoder would paint the missing rows grey and call it a success. Inside scan data every 0xFF
// is followed by 0x00 or a restart marker, so neither marker can appear there by chance.
bool JpegIsComplete(const QByteArray &data)
{
    static const QByteArray sos("\xFF\xDA", 2);
    static const QByteArray eoi("\xFF\xD9", 2);
    const qsizetype lastScan = data.lastIndexOf(sos);
    if (lastScan < 0)
        return false;
    return data.indexOf(eoi, lastScan + 2) >= 0;
}

void SetAllocationLimitOnce()
{
    // The limit is process-wide in Qt; set it once rather than race on it from two threads.
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(CImage::kMaxAllocationMB); });
}

} // namespace

int CImage::Load(const QString &path)
{
    m_image = QImage();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return kLoadNoFile;
    if (file.size() > kMaxFileBytes)
        return kLoadTooLarge;
    const QByteArray data = file.readAll();
    return LoadFromData(reinterpret_cast<const unsigned char *>(data.constData()),
                        static_cast<int>(data.size()));
}

int CImage::LoadFromData(const unsigned char *data, int length)
{
    m_image = QImage();
    if (!data || length <= 0)
        return kLoadNotPicture;
    SetAllocationLimitOnce();

    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), length);
    const bool jpeg = IsJpeg(bytes);
    if (jpeg && !JpegIsComplete(bytes))
        return kLoadTruncated;

    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return kLoadNotPicture;
    QImageReader reader(&buffer, jpeg ? QByteArray("jpeg") : QByteArray());
    if (jpeg)
        reader.setDecideFormatFromContent(false);
    if (!reader.canRead())
        return kLoadNotPicture;

    const QSize declared = reader.size();
    if (declared.isValid()) {
        if (declared.width() > kMaxSide || declared.height() > kMaxSide ||
            qint64(declared.width()) * declared.height() * 4 > kMaxFileBytes)
            return kLoadTooLarge;
    }

    QImage image;
    if (!reader.read(&image) || image.isNull())
        return reader.error() == QImageReader::InvalidDataError ? kLoadNotPicture : kLoadTooLarge;
    m_image = std::move(image);
    return kLoadOk;
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
    if (m_image.isNull())
        return kSaveNothing;
    // Written to a temporary name in the same folder and renamed: a failed save leaves no file
    // and never a half-written one under the final name.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return kSaveOpen;
    QImageWriter writer(&file, "jpeg");
    if (!writer.write(m_image)) {
        file.cancelWriting();
        return kSaveEncode;
    }
    if (!file.commit())
        return kSaveCommit;
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
