// Writing a picture file where someone else may have planted something at its name: the
// write never follows a link, never blocks on a FIFO, and creates the file private to the
// user (mode 0600).
#pragma once

#include <QString>
#include <QtGlobal>

// Creates or rewrites `path` so that it holds exactly the `count` bytes. False, without writing
// anything elsewhere, when the path is a link, is not a regular file or cannot be written.
bool WriteFileNoFollow(const QString &path, const void *bytes, qint64 count);
