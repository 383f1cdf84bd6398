// The screen decode on its own: Qt's JPEG reader against the TurboJPEG path of CImage on
// simulator screens at each quality, libjpeg's DCT scaling as a way to the 85 % and 70 %
// pictures (decode at 7/8 or 6/8, then the high-quality scale of the rest) against the full
// decode and high-quality scale, and the time to refuse or decode hostile pictures. Prints
// figures; asserts nothing. `--qt-bomb` also times Qt's reader on the scan bomb (many seconds).
#include "CImage.h"
#include "CSimInstrument.h"
#include "CSimScreen.h"
#include "JpegForge.h"
#include "LkScale.h"
#include "LkScreenPicture.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QRandomGenerator>

#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int kFrames = 8;
constexpr int kRounds = 60;

double Ms(clock_type::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double TimeMs(const std::function<void()> &work)
{
    const auto start = clock_type::now();
    work();
    return Ms(clock_type::now() - start);
}

// Mean absolute difference of the grey values (qGray) of two pictures of one size.
double MeanGreyDifference(const QImage &a, const QImage &b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *pa = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *pb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            sum += std::abs(qGray(pa[x]) - qGray(pb[x]));
    }
    return sum / (double(a.width()) * a.height());
}

QImage DecodeQt(const QByteArray &jpeg)
{
    QBuffer buffer;
    buffer.setData(jpeg);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    return reader.read();
}

QImage DecodeCImage(const QByteArray &jpeg)
{
    CImage image;
    image.LoadFromData(reinterpret_cast<const unsigned char *>(jpeg.constData()), int(jpeg.size()));
    return image.Image();
}

// libjpeg's DCT scaling to eighths/8 of the picture's size.
QImage DecodeScaled(tjhandle handle, const QByteArray &jpeg, int eighths)
{
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    const auto *bytes = reinterpret_cast<const unsigned char *>(jpeg.constData());
    if (tjDecompressHeader3(handle, bytes, jpeg.size(), &width, &height, &subsampling,
                            &colourspace) != 0)
        return {};
    const tjscalingfactor factor{eighths, 8};
    QImage image(TJSCALED(width, factor), TJSCALED(height, factor), QImage::Format_RGB32);
    if (tjDecompress2(handle, bytes, jpeg.size(), image.bits(), image.width(),
                      int(image.bytesPerLine()), image.height(), TJPF_BGRX, 0) != 0)
        return {};
    return image;
}

void CompareDecoders(const char *family, SimFamily simFamily)
{
    for (int quality : {90, 75, 50}) {
        CSimInstrument instrument;
        instrument.SetLogSink([](std::string_view) {});
        instrument.SetModel(simFamily == SimFamily::Lk ? "KL561B" : "KKC");
        instrument.SetFamily(simFamily);
        std::vector<QByteArray> screens;
        qint64 bytes = 0;
        for (int i = 0; i < kFrames; ++i) {
            screens.push_back(CSimScreen::EncodeJpeg(instrument.RenderFrame(), quality));
            bytes += screens.back().size();
        }
        const QImage first = DecodeCImage(screens[0]);
        // Warm both readers up (plugin loading, first allocations) before timing.
        for (const QByteArray &jpeg : screens) {
            DecodeQt(jpeg);
            DecodeCImage(jpeg);
        }
        std::vector<double> qt, turbo;
        bool same = true;
        for (int n = 0; n < kRounds; ++n) {
            const QByteArray &jpeg = screens[std::size_t(n % kFrames)];
            QImage a, b;
            qt.push_back(TimeMs([&] { a = DecodeQt(jpeg); }));
            if (n < kFrames)
                same = same && a.convertToFormat(QImage::Format_RGB32) == DecodeCImage(jpeg);
            a = QImage();
            turbo.push_back(TimeMs([&] { b = DecodeCImage(jpeg); }));
        }
        std::printf("%s screen %d x %d, quality %d, %lld bytes: Qt's reader %.2f ms, TurboJPEG "
                    "%.2f ms (%.0f Mpx/s), pixels %s\n",
                    family, first.width(), first.height(), quality,
                    static_cast<long long>(bytes / kFrames), Median(qt), Median(turbo),
                    first.width() * first.height() / Median(turbo) / 1000.0,
                    same ? "identical" : "DIFFERENT");
    }
}

void EvaluateDctScaling()
{
    tjhandle handle = tjInitDecompress();
    CSimInstrument instrument;
    instrument.SetLogSink([](std::string_view) {});
    instrument.SetModel("KL561B");
    for (int quality : {90, 75, 50}) {
        std::vector<QByteArray> screens;
        for (int i = 0; i < kFrames; ++i)
            screens.push_back(CSimScreen::EncodeJpeg(instrument.RenderFrame(), quality));
        for (int scale : {1, 2}) {
            const int eighths = scale == 1 ? 7 : 6;
            std::vector<double> fullDecode, fullScale, dctDecode, dctScale;
            double difference = 0;
            for (int n = 0; n < kRounds; ++n) {
                const QByteArray &jpeg = screens[std::size_t(n % kFrames)];
                QImage decoded, shown, reduced, dctShown;
                fullDecode.push_back(TimeMs([&] { decoded = DecodeCImage(jpeg); }));
                fullScale.push_back(
                    TimeMs([&] { shown = lk::ScaleScreenPicture(decoded, scale); }));
                dctDecode.push_back(TimeMs([&] { reduced = DecodeScaled(handle, jpeg, eighths); }));
                dctScale.push_back(
                    TimeMs([&] { dctShown = lk::ScaleScreenPicture(reduced, scale); }));
                if (n < kFrames)
                    difference += MeanGreyDifference(shown, dctShown) / kFrames;
            }
            std::printf("%d%% at quality %d: decode + high-quality scale %.2f + %.2f = %.2f ms; "
                        "DCT %d/8 + scale %.2f + %.2f = %.2f ms; mean grey difference %.2f\n",
                        scale == 1 ? 85 : 70, quality, Median(fullDecode), Median(fullScale),
                        Median(fullDecode) + Median(fullScale), eighths, Median(dctDecode),
                        Median(dctScale), Median(dctDecode) + Median(dctScale), difference);
        }
    }
    tjDestroy(handle);
}

void TimeHostile(bool withQt)
{
    struct Case
    {
        const char *name;
        QByteArray jpeg;
    };
    // A picture heavy with data: noise at the highest quality, progressive, 4:4:4.
    QImage noise(1600, 1200, QImage::Format_RGB32);
    QRandomGenerator rng(1);
    for (int y = 0; y < noise.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x)
            line[x] = 0xFF000000u | (rng.generate() & 0xFFFFFFu);
    }
    tjhandle compressor = tjInitCompress();
    unsigned char *heavy = nullptr;
    unsigned long heavySize = 0;
    tjCompress2(compressor, noise.constBits(), noise.width(), int(noise.bytesPerLine()),
                noise.height(), TJPF_BGRX, &heavy, &heavySize, TJSAMP_444, 100, TJFLAG_PROGRESSIVE);
    const std::vector<Case> cases = {
        {"scan bomb 4096 x 4096, 9000 scans", forge::ProgressiveScanBomb(4096, 4096, 9000)},
        {"scan bomb 1600 x 1200, 9000 scans", forge::ProgressiveScanBomb(1600, 1200, 9000)},
        {"1600 x 1200 grey, 64 scans", forge::ProgressiveScanBomb(1600, 1200, 64)},
        {"1600 x 1200 4 components, 64 scans", forge::ProgressiveScanBomb(1600, 1200, 64, 4)},
        {"1600 x 1200 4 components, 60 refining scans",
         forge::ProgressiveScanBomb(1600, 1200, 0, 4, true)},
        {"16000 x 120 4 components, 60 refining scans",
         forge::ProgressiveScanBomb(16000, 120, 0, 4, true)},
        {"1600 x 1200 noise, quality 100, 4:4:4 progressive",
         QByteArray(reinterpret_cast<const char *>(heavy), qsizetype(heavySize))},
    };
    tjFree(heavy);
    tjDestroy(compressor);
    for (const Case &c : cases) {
        std::vector<double> times;
        int status = 0;
        for (int i = 0; i < 5; ++i) {
            CImage image;
            times.push_back(TimeMs([&] {
                status =
                    image.LoadFromData(reinterpret_cast<const unsigned char *>(c.jpeg.constData()),
                                       int(c.jpeg.size()));
            }));
        }
        std::printf("%s, %lld bytes: %s in %.2f ms (median of 5, worst %.2f ms)\n", c.name,
                    static_cast<long long>(c.jpeg.size()), status == 0 ? "decoded" : "refused",
                    Median(times), *std::max_element(times.begin(), times.end()));
    }
    if (withQt) {
        const QByteArray bomb = cases[0].jpeg;
        QImage image;
        const double ms = TimeMs([&] { image = DecodeQt(bomb); });
        std::printf("scan bomb 4096 x 4096 through Qt's reader: %s in %.0f ms\n",
                    image.isNull() ? "refused" : "decoded", ms);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool withQt = argc > 1 && std::strcmp(argv[1], "--qt-bomb") == 0;
    QGuiApplication app(argc, argv);
    QFile load(QStringLiteral("/proc/loadavg"));
    if (load.open(QIODevice::ReadOnly))
        std::printf("load average at start: %s\n", load.readLine().trimmed().constData());
    std::printf("-- decode into the painted format (medians of %d)\n", kRounds);
    CompareDecoders("LK", SimFamily::Lk);
    CompareDecoders("KKC", SimFamily::Kkc);
    std::printf("-- the scaled LK picture: full decode and scale, or libjpeg's DCT scaling\n");
    EvaluateDctScaling();
    std::printf("-- hostile and worst-case pictures through CImage\n");
    TimeHostile(withQt);
    return 0;
}
