#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

bool WriteFileNoFollow(const QString &path, const void *bytes, qint64 count)
{
    if (path.isEmpty() || count < 0 || (count > 0 && !bytes))
        return false;
    const char *data = static_cast<const char *>(bytes);
#ifndef _WIN32
    const QByteArray native = QFile::encodeName(path);
    // O_NONBLOCK: opening a planted FIFO that nobody reads fails at once instead of waiting
    // for a reader; a regular file ignores the flag.
    const int fd =
        ::open(native.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
        return false;
    struct stat info;
    bool written = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    // The same picture file is rewritten every cycle. Cutting it to nothing first would make
    // ext4 push the new contents to the disk when the file is closed, which costs milliseconds
    // on every picture; the bytes go over the old ones instead, and any longer old tail is cut
    // afterwards.
    qint64 done = 0;
    while (written && done < count) {
        const ssize_t n = ::write(fd, data + done, size_t(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            written = false;
        else
            done += n;
    }
    if (written && info.st_size > count) {
        while (::ftruncate(fd, off_t(count)) != 0)
            if (errno != EINTR) {
                written = false;
                break;
            }
    }
    if (::close(fd) != 0)
        written = false;
    return written;
#else
    // Windows has no O_NOFOLLOW: a link or shell shortcut at the name is removed first, so the
    // write creates a plain file in its place.
    const QFileInfo info(path);
    if (info.isSymLink() || info.isShortcut())
        QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(data, count) == count;
#endif
}
