// The screen picture path with whatever the instrument sent as its screen: the marker walk
// and TurboJPEG decode of CImage, from memory and through a file as the refresh worker does,
// then the LK panel's scaled picture and, for small pictures, the JPEG encode of the scaled
// copy read back; a good picture must still decode after every input. Inputs up to 512 KB, so
// whole screens and scan bombs are in reach.
#include "CImage.h"
#include "JpegCodec.h"
#include "LkScreenPicture.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxInput = 512 * 1024;
constexpr int kMaxSide = 16384;
// Pictures up to this many pixels also go through the encoder.
constexpr qint64 kEncodePixels = 320 * 240;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// One Gui application for the whole run (the scaling may use Qt's thread pool).
void EnsureApplication()
{
    if (QGuiApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_image";
    static char *argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
}

void CheckOutcome(const CImage &image, int result)
{
    if (result == 0) {
        Check(!image.IsNull());
        Check(image.Image().format() == QImage::Format_RGB32);
        Check(image.GetWidth() > 0 && image.GetWidth() <= kMaxSide);
        Check(image.GetHeight() > 0 && image.GetHeight() <= kMaxSide);
        Check(qint64(image.GetWidth()) * image.GetHeight() <= CImage::kMaxScreenPixels);
        Check(image.LoadError().isEmpty());
    } else {
        Check(result < 0 && image.IsNull());
        Check(!image.LoadError().isEmpty());
    }
}

void CheckLayout(const std::uint8_t *data, std::size_t size)
{
    const jpeg::Layout layout = jpeg::ReadLayout(data, size, CImage::kMaxScans);
    Check(layout.length <= size);
    Check(layout.scans <= CImage::kMaxScans + 1);
    if (layout.end == jpeg::Layout::End::Eoi)
        Check(layout.length >= 4 && data[layout.length - 2] == 0xFF &&
              data[layout.length - 1] == 0xD9);
}

void CheckScaled(const QImage &decoded, std::size_t size)
{
    const int scale = int(size % 3);
    const QImage shown = lk::ScaleScreenPicture(decoded, scale);
    Check(!shown.isNull());
    Check(shown.size() == (scale == 0   ? QSize(800, 600)
                           : scale == 1 ? QSize(680, 510)
                                        : QSize(559, 419)));
    if (qint64(decoded.width()) * decoded.height() > kEncodePixels)
        return;
    const QByteArray copy = jpeg::Encode(decoded);
    Check(!copy.isEmpty());
    CImage back;
    Check(back.LoadFromData(reinterpret_cast<const unsigned char *>(copy.constData()),
                            int(copy.size())) == 0);
    Check(back.Image().size() == decoded.size());
}

// Whatever an input did, the next picture decodes on its own merits: a small good picture
// still decodes after every input.
void CheckNothingCarriesOver()
{
    static const QByteArray probe = [] {
        QImage image(16, 8, QImage::Format_RGB32);
        image.fill(qRgb(10, 120, 230));
        return jpeg::Encode(image);
    }();
    CImage image;
    Check(image.LoadFromData(reinterpret_cast<const unsigned char *>(probe.constData()),
                             int(probe.size())) == 0);
    Check(image.Image().size() == QSize(16, 8));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    EnsureApplication();
    return 0;
}

// The scaled panels' decode on two threads: never a picture the usual decode refuses, and the
// same pixels when it gives one.
void CheckHalves(const std::uint8_t *data, std::size_t size, const CImage &usual, int outcome)
{
    const int scale = 1 + int(size % 2);
    QImage decoded, shown;
    if (!lk::DecodeScaledInHalves(data, size, scale, decoded, shown))
        return;
    Check(outcome == 0);
    Check(decoded == usual.Image());
    Check(shown == lk::ScaleScreenPicture(usual.Image(), scale));
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    EnsureApplication();
    if (size > kMaxInput)
        return 0;
    CheckLayout(data, size);
    CImage image;
    const int fromMemory = image.LoadFromData(data, static_cast<int>(size));
    CheckOutcome(image, fromMemory);
    if (fromMemory == 0)
        CheckScaled(image.Image(), size);
    CheckHalves(data, size, image, fromMemory);
    CheckNothingCarriesOver();

    // One input in eight also goes through a file; both ways must agree.
    if (size % 8 == 0) {
        static const QString path =
            QDir::temp().filePath(QStringLiteral("klr_fuzz_image_%1.jpg").arg(getpid()));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
            file.close();
            CImage again;
            const int fromFile = again.Load(path);
            CheckOutcome(again, fromFile);
            Check(fromFile == fromMemory);
            if (fromFile == 0)
                Check(again.Image() == image.Image());
            QFile::remove(path);
        }
    }
    return 0;
}
