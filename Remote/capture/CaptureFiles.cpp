#include "CaptureFiles.h"

#include "CaptureNames.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>

namespace capture {

namespace {

// Far more than one second's worth of saves; beyond this something else fills the folder.
constexpr int kMaxCopies = 999;
constexpr const char *kNoFolder = "the folder %1 cannot be created";
constexpr const char *kNoFreeName = "no free file name for %1 in %2";

QString Text(const char *format)
{
    return QString::fromLatin1(format);
}

} // namespace

std::unique_ptr<QFile> OpenNewFile(const QString &folder, const QString &base,
                                   const QString &extension, QString &error, QString *path)
{
    if (!QDir().mkpath(folder)) {
        error = Text(kNoFolder).arg(QDir::toNativeSeparators(folder));
        return nullptr;
    }
    const QDir dir(folder);
    for (int n = 1; n <= kMaxCopies; ++n) {
        const QString candidate = dir.filePath(CandidateName(base, n, extension));
        if (path)
            *path = candidate;
        const QFileInfo info(candidate);
        if (info.exists() || info.isSymLink())
            continue;
        auto file = std::make_unique<QFile>(candidate);
        // Exclusive creation: a file or link that appeared meanwhile is not opened.
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return file;
        const QFileInfo after(candidate);
        if (after.exists() || after.isSymLink())
            continue;
        error = file->errorString();
        return nullptr;
    }
    error = Text(kNoFreeName).arg(base, QDir::toNativeSeparators(folder));
    return nullptr;
}

SavedFile SaveNewFile(const QString &folder, const QString &base, const QString &extension,
                      const WriteContent &write)
{
    SavedFile saved;
    std::unique_ptr<QFile> file = OpenNewFile(folder, base, extension, saved.error, &saved.path);
    if (!file)
        return saved;
    const bool written = write(*file) && file->flush();
    if (!written) {
        saved.error = file->errorString();
        file->close();
        // Only the file just created goes; nothing that was there before is touched.
        file->remove();
        return saved;
    }
    file->close();
    if (file->error() != QFileDevice::NoError) {
        saved.error = file->errorString();
        file->remove();
        return saved;
    }
    saved.ok = true;
    return saved;
}

SavedFile SaveReplacing(const QString &path, const WriteContent &write)
{
    SavedFile saved;
    saved.path = path;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        saved.error = file.errorString();
        return saved;
    }
    if (!write(file)) {
        saved.error = file.errorString();
        file.cancelWriting();
        return saved;
    }
    if (!file.commit()) {
        saved.error = file.errorString();
        return saved;
    }
    saved.ok = true;
    return saved;
}

bool WritePng(QIODevice &device, const QImage &image)
{
    return !image.isNull() && image.save(&device, "PNG");
}

bool WriteBytes(QIODevice &device, const QByteArray &bytes)
{
    return !bytes.isEmpty() && device.write(bytes) == bytes.size();
}

} // namespace capture
