// Per-picture cost of the LK panel's scaled display for an 800 x 600 simulator screen: the
// worker's decode, high-quality scale and JPEG save of the scaled copy, one by one. Each stage
// is also timed the way it was done before the TurboJPEG path (Qt's reader, a blank picture
// with the high-quality draw into it, Qt's writer through QSaveFile), on the same pictures.
// Then the whole path at each scale through a real LK panel against the simulator: reply
// complete to picture painted, beside the decode alone of the same pictures, and how far the
// shown pictures are from Qt's high-quality scale. Prints medians; asserts nothing.
#include "CImage.h"
#include "CPrefStore.h"
#include "CRemoteDlgLK.h"
#include "CScreenView.h"
#include "CSimInstrument.h"
#include "CSimServer.h"
#include "LkScale.h"
#include "LkScreenPicture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int kFrames = 8;
constexpr int kPicturesPerScale = 120;
// Pictures through the panel per scale; the first ones warm up and are not counted.
constexpr int kShownPictures = 40;
constexpr int kWarmUpPictures = 3;

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

// Runs the window's event loop for a while.
void Spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Mean absolute difference of the grey values (qGray) of two pictures of one size.
double MeanGreyDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 255;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *pa = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *pb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            sum += std::abs(qGray(pa[x]) - qGray(pb[x]));
    }
    return sum / (double(a.width()) * a.height());
}

// The picture as Qt's high-quality scale into a blank picture made it.
QImage ScaledByQt(const QImage &decoded, int scale)
{
    const QSize pictureSize = lk::ScreenPictureSize(scale);
    const QSize drawSize = lk::ScaledDrawSize(scale);
    CImage source, blank;
    source.Image() = decoded;
    blank.Create(pictureSize.width(), pictureSize.height(), 32);
    CImage::ScaleHighQuality(blank, source, drawSize.width(), drawSize.height(), decoded.width(),
                             decoded.height());
    return blank.Image();
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

struct ShownFigures
{
    bool ok = false;
    std::vector<double> shown;  // reply complete to picture painted
    std::vector<double> worker; // reply complete to hand-over: file, decode, scale
    std::vector<double> window; // hand-over to picture painted: wake-up, slots, paint
    std::vector<double> paint;  // the forced paint alone
    std::vector<double> decode; // the same reply decoded again, at 100 %
    std::vector<double> greys;  // each shown picture against Qt's high-quality scale
    double worstGrey = 0;
    double meanGrey = 0;
    int painted = 0;
};

// A real LK panel at `scale` (from its store) against an in-process simulator over loopback.
// A slot connected after the panel's own forces the screen view to paint the picture the
// panel was just given and takes the time; while the worker rests before its next request,
// the same reply is decoded again.
ShownFigures MeasureShown(int scale, const QString &folder)
{
    ShownFigures figures;
    auto instrument = std::make_shared<CSimInstrument>();
    instrument->SetLogSink([](std::string_view) {});
    instrument->SetModel("KL561B");
    CSimServer server(instrument);
    if (!server.Start("127.0.0.1", 0)) {
        std::fprintf(stderr, "simulator: %s\n", server.Error().c_str());
        return figures;
    }
    const QString ini = folder + QStringLiteral("/prefs.ini");
    {
        QSettings settings(ini, QSettings::IniFormat);
        settings.setValue("Connection/Method", 1);
        settings.setValue("Connection/IP", "127.0.0.1");
        settings.setValue("Connection/Scale", scale);
    }
    CPrefStore store(ini);
    struct Quiet : CSessionPresenter
    {
        void Message(QWidget *, const QString &) override {}
        void ConnectionFailed(QWidget *, int) override {}
    } presenter;
    CRemoteDlgLK panel(&store, &presenter);
    panel.SetLogFolder(folder + QStringLiteral("/log"));
    const std::uint16_t port = server.Port();
    panel.SetLinkSetup([port](CDevComm &link) { link.SetPort(port); });
    panel.show();
    panel.OnCommand(ids::IDC_CONNECT);
    QElapsedTimer wait;
    wait.start();
    while (panel.IsConnectRunning() && wait.elapsed() < 15000)
        Spin(10);
    CScreenView *view = panel.findChild<CScreenView *>();
    if (!panel.Link().IsConnected() || !view) {
        std::fprintf(stderr, "no connected LK panel\n");
        return figures;
    }
    PaintCounter counter;
    view->installEventFilter(&counter);

    int seen = 0;
    QObject::connect(
        &panel.Session(), &CRemoteSession::screenReady, &panel, [&](const ScreenFrame &frame) {
            const int before = counter.paints;
            const auto start = clock_type::now();
            view->repaint();
            const auto painted = clock_type::now();
            if (++seen <= kWarmUpPictures)
                return;
            figures.painted += counter.paints > before;
            figures.shown.push_back(Ms(painted - frame.arrived));
            figures.worker.push_back(Ms(frame.handedOver - frame.arrived));
            figures.window.push_back(Ms(painted - frame.handedOver));
            figures.paint.push_back(Ms(painted - start));
            // Nothing of the picture is kept past this rest: pictures held on would make the
            // worker's next ones land on fresh memory, which the panel alone never does.
            const QByteArray jpeg = frame.jpeg;
            QTimer::singleShot(100, &panel, [&figures, jpeg, shown = frame.picture, scale] {
                const auto a = clock_type::now();
                CImage again;
                again.LoadFromData(reinterpret_cast<const unsigned char *>(jpeg.constData()),
                                   int(jpeg.size()));
                figures.decode.push_back(Ms(clock_type::now() - a));
                const double grey = MeanGreyDifference(shown, ScaledByQt(again.Image(), scale));
                figures.worstGrey = std::max(figures.worstGrey, grey);
                figures.greys.push_back(grey);
            });
        });
    panel.OnCommand(ids::IDC_START);
    wait.restart();
    while (int(figures.decode.size()) < kShownPictures && wait.elapsed() < 120000)
        Spin(20);
    panel.OnCommand(ids::IDC_STOP);
    panel.OnCommand(ids::IDC_DISCONNECT);
    server.Stop();

    for (double grey : figures.greys)
        figures.meanGrey += grey / double(figures.greys.size());
    figures.ok = int(figures.decode.size()) >= kShownPictures;
    return figures;
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

    std::printf("through a real LK panel against the simulator, %d pictures per scale:\n",
                kShownPictures);
    bool allShown = true;
    for (int scale : {1, 2}) {
        const QString folder = dir.filePath(QStringLiteral("panel%1").arg(scale));
        QDir().mkpath(folder);
        const ShownFigures figures = MeasureShown(scale, folder);
        if (!figures.ok) {
            std::printf("%d%%: the panel did not show %d pictures\n", scale == 1 ? 85 : 70,
                        kShownPictures);
            allShown = false;
            continue;
        }
        const double shown = Median(figures.shown);
        const double decodeAlone = Median(figures.decode);
        std::printf("%d%% shown after %.2f ms (decode alone %.2f ms): ratio %.2f\n",
                    scale == 1 ? 85 : 70, shown, decodeAlone, shown / decodeAlone);
        std::printf("  of which worker %.2f ms (file, decode, scale), window %.2f ms (wake-up, "
                    "paint %.2f ms); painted %d of %zu\n",
                    Median(figures.worker), Median(figures.window), Median(figures.paint),
                    figures.painted, figures.shown.size());
        std::printf("  mean grey difference against Qt's high-quality scale %.2f (worst picture "
                    "%.2f)\n",
                    figures.meanGrey, figures.worstGrey);
    }
    std::printf("load average at the end: %s\n", LoadAverage().c_str());
    return allShown ? 0 : 1;
}
