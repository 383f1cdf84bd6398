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

    // 0 on success; negative on failure, the image then stays empty.
    int Load(const QString &path);
    // Same, from bytes in memory.
    int LoadFromData(const unsigned char *data, int length);
    bool Create(int width, int height, int bpp);
    // Plain stretch of (0, 0, srcW, srcH) to (x, y, dstW, dstH), no smoothing.
    bool Draw(QPainter *painter, int x, int y, int dstW, int dstH, int srcW, int srcH) const;
    // 0 on success; on failure no file is left behind.
    int Save(const QString &path) const;
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
    QImage m_image;
};
