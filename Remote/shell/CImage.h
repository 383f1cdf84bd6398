// The image facility over QImage: load a JPEG file, create, stretch-draw, save as JPEG,
// and the high-quality scaling routine. Each object is used by one thread.
#pragma once

#include <QImage>
#include <QString>

class QPainter;

class CImage
{
public:
    // Decoded pictures larger than this are refused (the instrument's screen is far smaller).
    static constexpr int kMaxAllocationMB = 64;
    // The instruments' screens are 800 x 480 and 800 x 600 pixels. A picture declaring more
    // than four screens of pixels, or more scans than any screen encoder writes, could only
    // cost decode time; it is refused before a pixel is decoded.
    static constexpr qint64 ScreenPixelLimit(int width, int height)
    {
        return 4 * qint64(width) * height;
    }
    static constexpr qint64 kMaxScreenPixels = 4 * 800 * 600;
    static constexpr int kMaxScans = 64;

    enum LoadStatus
    {
        kLoadOk = 0,
        kLoadNoFile = -1,
        kLoadNotPicture = -2,
        kLoadTooLarge = -3,
        kLoadTruncated = -4,
        kLoadCorrupt = -5,
        kLoadTooManyScans = -6,
    };

    // 0 on success; negative on failure, the image then stays empty. Only JPEG is decoded,
    // through libjpeg-turbo, into Format_RGB32.
    int Load(const QString &path, qint64 maxPixels = kMaxScreenPixels);
    // Same, from bytes in memory.
    int LoadFromData(const unsigned char *data, int length, qint64 maxPixels = kMaxScreenPixels);
    // Why the last load failed, as a phrase such as "a truncated JPEG image"; empty after a
    // successful load.
    const QString &LoadError() const { return m_loadError; }

    bool Create(int width, int height, int bpp);
    // Plain stretch of (0, 0, srcW, srcH) to (x, y, dstW, dstH), no smoothing.
    bool Draw(QPainter *painter, int x, int y, int dstW, int dstH, int srcW, int srcH) const;
    // 0 on success. The file is written without following a link at `path`; when it cannot
    // be opened (missing folder, planted link) no file is created.
    int Save(const QString &path) const;
    static int SaveJpeg(const QImage &image, const QString &path);
    // High-quality (smoothing) scale of src's (0, 0, srcW, srcH) into dst's (0, 0, dstW, dstH).
    static bool ScaleHighQuality(CImage &dst, const CImage &src, int dstW, int dstH, int srcW,
                                 int srcH);

    bool IsNull() const { return m_image.isNull(); }
    int GetWidth() const { return m_image.width(); }
    int GetHeight() const { return m_image.height(); }
    void Destroy() { m_image = QImage(); }
    const QImage &Image() const { return m_image; }
    QImage &Image() { return m_image; }

private:
    int Fail(int status, const QString &reason);

    QImage m_image;
    QString m_loadError;
};
