// Writes the application icon as hicolor PNGs: klremote-icons <folder> [sizes...]
// Each size lands in <folder>/<n>x<n>/apps/klremote.png.
#include "Resources.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: klremote-icons FOLDER [SIZE...]\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    QList<int> sizes;
    for (int i = 2; i < argc; ++i) {
        bool ok = false;
        const int n = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || n < 16 || n > 1024) {
            std::fprintf(stderr, "klremote-icons: bad size '%s'\n", argv[i]);
            return 2;
        }
        sizes << n;
    }
    if (sizes.isEmpty())
        sizes = {16, 32, 48, 64, 128, 256};

    const QIcon icon = res::LoadIcon(res::IDR_MAINFRAME);
    if (icon.isNull()) {
        std::fprintf(stderr, "klremote-icons: no application icon\n");
        return 1;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    for (int n : sizes) {
        const QString folder = root.filePath(QStringLiteral("%1x%1/apps").arg(n));
        QImage image = icon.pixmap(QSize(n, n)).toImage();
        if (image.size() != QSize(n, n))
            image = image.scaled(n, n, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (!QDir().mkpath(folder) || !image.save(folder + QStringLiteral("/klremote.png"))) {
            std::fprintf(stderr, "klremote-icons: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
