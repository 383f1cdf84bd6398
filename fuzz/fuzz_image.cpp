// CImage decoding of whatever the instrument sent as its screen: from memory, and through a
// file as the refresh worker does, with the decoder's allocation cap in force.
#include "CImage.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::size_t kMaxInput = 512 * 1024;
constexpr int kMaxSide = 16384;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// The JPEG plugin is loaded by the Gui application; one for the whole run.
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
        Check(image.GetWidth() > 0 && image.GetWidth() <= kMaxSide);
        Check(image.GetHeight() > 0 && image.GetHeight() <= kMaxSide);
    } else {
        Check(result < 0 && image.IsNull());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    EnsureApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    EnsureApplication();
    if (size > kMaxInput)
        return 0;
    CImage image;
    const int fromMemory = image.LoadFromData(data, static_cast<int>(size));
    CheckOutcome(image, fromMemory);

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
            Check((fromFile == 0) == (fromMemory == 0));
            if (fromFile == 0)
                Check(again.Image() == image.Image());
            QFile::remove(path);
        }
    }
    return 0;
}
