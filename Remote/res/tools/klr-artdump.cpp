// klr-artdump: writes every panel picture, key face, knob and icon as PNG files into a folder,
// and previews of the assembled panels (keys and knob laid over the panel picture).
//
//   klr-artdump <folder>            every picture plus the previews
//   klr-artdump <folder> --preview  the previews only
#include "ArtLayout.h"
#include "Resources.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QTextStream>
#include <cstdlib>
#include <set>

namespace {

using namespace res;
using namespace res::layout;

const char *const kFaceNames[] = {"normal", "pressed", "focus", "disabled"};

class Dumper
{
public:
    explicit Dumper(QDir dir) : m_dir(std::move(dir)) {}

    void Write(int id, const QString &name)
    {
        if (id == 0 || !m_written.insert(id).second)
            return;
        Save(LoadBitmap(id), name);
    }

    void Save(const QImage &image, const QString &name)
    {
        const QString path = m_dir.filePath(name + QStringLiteral(".png"));
        if (image.isNull() || !image.save(path)) {
            QTextStream(stderr) << "klr-artdump: cannot write " << path << "\n";
            m_failed = true;
        }
    }

    bool Failed() const { return m_failed; }
    const std::set<int> &Written() const { return m_written; }

private:
    QDir m_dir;
    std::set<int> m_written;
    bool m_failed = false;
};

// Like a skinned button: only the face's non-white pixels, clipped to the button's size.
void Overlay(QImage &panel, const QImage &face, QPoint at, QSize button)
{
    const int w = std::min(face.width(), button.width());
    const int h = std::min(face.height(), button.height());
    for (int y = 0; y < h; ++y) {
        if (at.y() + y < 0 || at.y() + y >= panel.height())
            continue;
        const auto *src = reinterpret_cast<const QRgb *>(face.constScanLine(y));
        auto *dst = reinterpret_cast<QRgb *>(panel.scanLine(at.y() + y));
        for (int x = 0; x < w; ++x) {
            const int px = at.x() + x;
            if (px >= 0 && px < panel.width() && (src[x] | 0xFF000000u) != 0xFFFFFFFFu)
                dst[px] = src[x];
        }
    }
}

QImage PreviewKkc(Face face, int notch)
{
    QImage panel = LoadBitmap(IDB_PANEL_KKC).convertToFormat(QImage::Format_RGB32);
    QPainter(&panel).drawImage(kKkcScreen.topLeft(), LoadBitmap(IDB_SCREEN_PLACEHOLDER));
    for (const KkcKey &key : KkcKeys()) {
        const QImage img = LoadBitmap(KkcKeyFace(key.id, face));
        Overlay(panel, img, {key.x, key.y}, img.size());
    }
    const int knobId =
        face == Face::Disabled ? IDB_KNOB_KKC_DISABLED : IDB_KNOB_KKC_FIRST + notch - 1;
    const QImage knob = LoadBitmap(knobId);
    Overlay(panel, knob, kKkcKnobPos, knob.size());
    return panel;
}

QImage PreviewLk(int scale, Face face, int notch)
{
    QImage panel = LoadBitmap(LkPanel(scale)).convertToFormat(QImage::Format_RGB32);
    for (const LkKey &key : LkKeys()) {
        const QSize face100 = LkFaceSize(key.cls, 0);
        const QSize button(ScaleLen(face100.width(), scale), ScaleLen(face100.height(), scale));
        Overlay(panel, LoadBitmap(LkKeyFace(key.id, scale, face)), LkKeyPos(key, scale), button);
    }
    const int knobSize = ScaleLen(kLkKnobSize[0], scale);
    Overlay(panel, LoadBitmap(LkKnob(scale, face == Face::Disabled ? 0 : notch)), LkKnobPos(scale),
            QSize(knobSize, knobSize));
    return panel;
}

void WritePreviews(Dumper &out)
{
    out.Save(PreviewKkc(Face::Normal, 1), QStringLiteral("preview_kkc"));
    out.Save(PreviewKkc(Face::Pressed, 4), QStringLiteral("preview_kkc_pressed"));
    out.Save(PreviewKkc(Face::Disabled, 1), QStringLiteral("preview_kkc_disabled"));
    for (int scale = 0; scale < kScaleCount; ++scale) {
        const QString tag = QString::number(scale);
        out.Save(PreviewLk(scale, Face::Normal, 1), QStringLiteral("preview_lk_s") + tag);
        out.Save(PreviewLk(scale, Face::Pressed, 3),
                 QStringLiteral("preview_lk_s") + tag + "_pressed");
        out.Save(PreviewLk(scale, Face::Focus, 1), QStringLiteral("preview_lk_s") + tag + "_focus");
        out.Save(PreviewLk(scale, Face::Disabled, 1),
                 QStringLiteral("preview_lk_s") + tag + "_disabled");
    }
}

void WriteAll(Dumper &out)
{
    out.Write(IDB_PANEL_KKC, QStringLiteral("kkc_panel"));
    out.Write(IDB_SCREEN_PLACEHOLDER, QStringLiteral("kkc_placeholder"));
    for (int notch = 1; notch <= 12; ++notch)
        out.Write(IDB_KNOB_KKC_FIRST + notch - 1,
                  QStringLiteral("kkc_knob_%1").arg(notch, 2, 10, QChar('0')));
    out.Write(IDB_KNOB_KKC_DISABLED, QStringLiteral("kkc_knob_disabled"));
    for (const KkcKey &key : KkcKeys())
        for (int f = 0; f < 4; ++f)
            out.Write(KkcKeyFace(key.id, static_cast<Face>(f)),
                      QStringLiteral("kkc_key_%1_%2").arg(key.id).arg(kFaceNames[f]));
    for (int scale = 0; scale < kScaleCount; ++scale) {
        out.Write(LkPanel(scale), QStringLiteral("lk_s%1_panel").arg(scale));
        for (int index = 0; index <= 12; ++index)
            out.Write(LkKnob(scale, index),
                      QStringLiteral("lk_s%1_knob_%2").arg(scale).arg(index, 2, 10, QChar('0')));
        for (const LkKey &key : LkKeys())
            for (int f = 0; f < 4; ++f)
                out.Write(
                    LkKeyFace(key.id, scale, static_cast<Face>(f)),
                    QStringLiteral("lk_s%1_key_%2_%3").arg(scale).arg(key.id).arg(kFaceNames[f]));
    }
    for (int id : AllBitmapIds())
        out.Write(id, QStringLiteral("bitmap_%1").arg(id));

    for (int id : {IDR_MAINFRAME, IDI_CONNECTED, IDI_DISCONNECTED}) {
        const QIcon icon = LoadIcon(id);
        for (const QSize &size : icon.availableSizes())
            out.Save(icon.pixmap(size).toImage(),
                     QStringLiteral("icon_%1_%2").arg(id).arg(size.width()));
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args[1].startsWith('-')) {
        QTextStream(stderr) << "usage: klr-artdump <folder> [--preview]\n";
        return 2;
    }
    QDir dir(args[1]);
    if (!dir.mkpath(QStringLiteral("."))) {
        QTextStream(stderr) << "klr-artdump: cannot create " << args[1] << "\n";
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    const std::vector<int> ids = AllBitmapIds();
    for (int id : ids)
        LoadBitmap(id);
    QTextStream(stdout) << "klr-artdump: drew " << ids.size() << " pictures in " << timer.elapsed()
                        << " ms\n";
    Dumper out(dir);
    if (!args.contains(QStringLiteral("--preview")))
        WriteAll(out);
    WritePreviews(out);
    return out.Failed() ? 1 : 0;
}
