// Per-picture cost of the LK panel's scaled display for an 800 x 600 simulator screen: the
// worker's decode, high-quality scale and JPEG save of the scaled copy, then the window's paint
// of the handed-over picture. Prints medians per scale; asserts nothing. Each stage is also
// timed the way it was done before the TurboJPEG path (Qt's reader, a blank picture with the
// high-quality draw into it, Qt's writer through QSaveFile), on the same pictures.
#include "CImage.h"
#include "CPrefStore.h"
#include "CRemoteDlgLK.h"
#include "CScreenView.h"
#include "CSimInstrument.h"
#include "LkScale.h"
#include "LkScreenPicture.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
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
    std::vector<QByteArray> replies;
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
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        replies.push_back(file.readAll());
    }
    std::printf("load average at start: %s\n", LoadAverage().c_str());
    std::printf("simulator screens: %d of 800 x 600, %lld bytes on average\n", kFrames,
                static_cast<long long>(bytes / kFrames));

    for (int scale : {1, 2}) {
        std::vector<double> decode, scaleMs, save;
        std::vector<double> decodeQt, decodeReply, scaleBefore, saveQt;
        const QSize pictureSize = lk::ScreenPictureSize(scale);
        const QSize drawSize = lk::ScaledDrawSize(scale);
        for (int n = 0; n < kPicturesPerScale; ++n) {
            const QString &path = files[static_cast<size_t>(n % kFrames)];
            const QByteArray &reply = replies[static_cast<size_t>(n % kFrames)];
            const QString copyPath = lk::ScaledImagePath(path, scale, dir.path());

            // The phases one by one, with the same calls the worker makes.
            const auto a = clock_type::now();
            CImage loaded;
            loaded.Load(path);
            const auto b = clock_type::now();
            const QImage scaled = lk::ScaleScreenPicture(loaded.Image(), scale);
            const auto c = clock_type::now();
            lk::SaveScaledCopy(scaled, copyPath);
            const auto d = clock_type::now();
            decode.push_back(Ms(b - a));
            scaleMs.push_back(Ms(c - b));
            save.push_back(Ms(d - c));

            // The same phases as they were done before.
            const auto qa = clock_type::now();
            QImageReader reader(path, "jpeg");
            const QImage qtDecoded = reader.read();
            const auto qb = clock_type::now();
            CImage source, blank;
            source.Image() = qtDecoded;
            blank.Create(pictureSize.width(), pictureSize.height(), 32);
            CImage::ScaleHighQuality(blank, source, drawSize.width(), drawSize.height(),
                                     qtDecoded.width(), qtDecoded.height());
            const auto qc = clock_type::now();
            QSaveFile saveFile(copyPath + QStringLiteral(".qt.jpg"));
            saveFile.open(QIODevice::WriteOnly);
            QImageWriter writer(&saveFile, "jpeg");
            writer.write(blank.Image());
            saveFile.commit();
            const auto qd = clock_type::now();
            decodeQt.push_back(Ms(qb - qa));
            scaleBefore.push_back(Ms(qc - qb));
            saveQt.push_back(Ms(qd - qc));

            // The reply bytes decoded where they are, without the file.
            const auto ra = clock_type::now();
            CImage fromReply;
            fromReply.LoadFromData(reinterpret_cast<const unsigned char *>(reply.constData()),
                                   int(reply.size()));
            decodeReply.push_back(Ms(clock_type::now() - ra));
        }
        std::printf("scale %d%% (%d x %d):\n", scale == 1 ? 85 : 70, pictureSize.width(),
                    pictureSize.height());
        std::printf("  decode                   : median %.2f ms\n", Median(decode));
        std::printf("    before, Qt's reader    : median %.2f ms\n", Median(decodeQt));
        std::printf("    from the reply bytes   : median %.2f ms\n", Median(decodeReply));
        std::printf("  high-quality scale       : median %.2f ms\n", Median(scaleMs));
        std::printf("    before, blank and draw : median %.2f ms\n", Median(scaleBefore));
        std::printf("  JPEG save of the copy    : median %.2f ms\n", Median(save));
        std::printf("    before, Qt's writer    : median %.2f ms\n", Median(saveQt));
    }
    return 0;
}
