// Per-picture cost of the LK panel's scaled display for an 800 x 600 simulator screen: the
// worker's decode, high-quality scale and JPEG save of the scaled copy, then the window's paint
// of the handed-over picture. Prints medians per scale; asserts nothing.
#include "CImage.h"
#include "CPrefStore.h"
#include "CRemoteDlgLK.h"
#include "CScreenView.h"
#include "CSimInstrument.h"
#include "LkScale.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int kFrames = 8;
constexpr int kPicturesPerScale = 120;

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

std::string LoadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return "unknown";
    return file.readLine().trimmed().toStdString();
}

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    // Screens as the simulated instrument sends them.
    CSimInstrument instrument;
    instrument.SetModel("KL561B");
    instrument.SetLogSink([](std::string_view) {});
    std::vector<QString> files;
    qint64 bytes = 0;
    for (int i = 0; i < kFrames; ++i) {
        const QString path = dir.filePath(QStringLiteral("screen%1.jpg").arg(i));
        QImageWriter writer(path, "jpeg");
        writer.setQuality(CSimInstrument::kHighQuality);
        const QImage frame = instrument.RenderFrame();
        if (frame.size() != QSize(lk::kScreenWidth, lk::kScreenHeight) || !writer.write(frame)) {
            std::fprintf(stderr, "no 800 x 600 simulator screen\n");
            return 1;
        }
        bytes += QFileInfo(path).size();
        files.push_back(path);
    }
    std::printf("load average at start: %s\n", LoadAverage().c_str());
    std::printf("simulator screens: %d of 800 x 600, %lld bytes on average\n", kFrames,
                static_cast<long long>(bytes / kFrames));

    for (int scale : {1, 2}) {
        std::vector<double> decode, scaleMs, save;
        const QSize pictureSize = lk::ScreenPictureSize(scale);
        const QSize drawSize = lk::ScaledDrawSize(scale);
        for (int n = 0; n < kPicturesPerScale; ++n) {
            const QString &path = files[static_cast<size_t>(n % kFrames)];

            // The phases one by one, with the same calls the worker makes.
            const auto a = clock_type::now();
            CImage loaded;
            loaded.Load(path);
            const auto b = clock_type::now();
            CImage scaled;
            scaled.Create(pictureSize.width(), pictureSize.height(), 32);
            CImage::ScaleHighQuality(scaled, loaded, drawSize.width(), drawSize.height(),
                                     loaded.GetWidth(), loaded.GetHeight());
            const auto c = clock_type::now();
            scaled.Save(lk::ScaledImagePath(path, scale, dir.path()));
            const auto d = clock_type::now();
            decode.push_back(Ms(b - a));
            scaleMs.push_back(Ms(c - b));
            save.push_back(Ms(d - c));
        }
        std::printf("scale %d%% (%d x %d):\n", scale == 1 ? 85 : 70, pictureSize.width(),
                    pictureSize.height());
        std::printf("  decode                   : median %.2f ms\n", Median(decode));
        std::printf("  high-quality scale       : median %.2f ms\n", Median(scaleMs));
        std::printf("  JPEG save of the copy    : median %.2f ms\n", Median(save));
    }
    return 0;
}
