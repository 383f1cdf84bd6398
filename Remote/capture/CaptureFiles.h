// Writing the files the operator keeps without ever losing an earlier one: a new name is
// claimed by creating the file exclusively (an existing file or a link planted at the name is
// never opened), and a chosen name is replaced only by a complete new file.
#pragma once

#include <QFile>
#include <QString>

#include <functional>
#include <memory>

class QByteArray;
class QImage;
class QIODevice;

namespace capture {

struct SavedFile
{
    bool ok = false;
    QString path;  // the file written (or tried last)
    QString error; // why not, for the operator
};

// Writes the content into an open device; false when a write failed.
using WriteContent = std::function<bool(QIODevice &device)>;

// Creates `folder` when missing and opens a new file in it named CandidateName(base, n,
// extension) for the first n from 1 that names nothing yet. Null, with `error`, when the
// folder cannot be made or the file cannot be created.
std::unique_ptr<QFile> OpenNewFile(const QString &folder, const QString &base,
                                   const QString &extension, QString &error,
                                   QString *path = nullptr);

// A new file as above, written at once; a write that fails removes what it had written.
SavedFile SaveNewFile(const QString &folder, const QString &base, const QString &extension,
                      const WriteContent &write);

// Replaces the file at `path` (or creates it); unless the new content was written in full,
// whatever was there before stays as it was.
SavedFile SaveReplacing(const QString &path, const WriteContent &write);

// Content writers.
bool WritePng(QIODevice &device, const QImage &image);
bool WriteBytes(QIODevice &device, const QByteArray &bytes);

} // namespace capture
