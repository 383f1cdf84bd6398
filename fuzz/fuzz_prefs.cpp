// The operator's and the store's texts: CDlgCommNew::SplitIPv4 over any text, and
// CPrefStore over any settings file content.
//
// Input layout: the text up to the first NUL is split as an IPv4 address; what follows that
// NUL (the whole input when there is none) is the store's INI file. An address text
// "pad=<n>" also pads the file with comment lines to n bytes, so that small inputs reach
// files at and beyond the store's size limit. The same file is also planted where only a
// stray file could be (the organisation-wide file of the user, the system-wide folder),
// which the per-user store must never read.
#include "CDlgCommNew.h"
#include "CPrefStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kMaxInput = 64 * 1024;
// Padding reaches a little beyond the store's limit, where a file must be left alone.
constexpr qsizetype kMaxPadded = CPrefStore::kMaxFileBytes + 4096;
constexpr qsizetype kMaxTextBytes = 255;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckSettings(const ConnectionSettings &s)
{
    Check(s.method >= 1 && s.method <= 3);
    Check(s.scale >= 0 && s.scale <= 2);
    Check(s.quality >= 0 && s.quality <= 2);
    Check(s.ipv4.toLocal8Bit().size() <= kMaxTextBytes);
    Check(s.ipv6.toLocal8Bit().size() <= kMaxTextBytes);
}

bool IsDefault(const ConnectionSettings &s)
{
    const ConnectionSettings d;
    return s.method == d.method && s.ipv4 == d.ipv4 && s.ipv6 == d.ipv6 && s.scale == d.scale &&
           s.quality == d.quality && s.usbIds == d.usbIds;
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

// The store's file: the bytes after the address text, padded as "pad=<n>" asks.
QByteArray StoreFile(const QByteArray &address, const char *ini, std::size_t size)
{
    QByteArray file(ini, static_cast<qsizetype>(size));
    if (!address.startsWith("pad="))
        return file;
    bool ok = false;
    const qsizetype target = std::min<qsizetype>(address.mid(4).toLongLong(&ok), kMaxPadded);
    if (!ok || target <= file.size())
        return file;
    file += '\n';
    while (file.size() < target)
        file += "; padding the file to its size\n";
    file.truncate(target);
    return file;
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A configuration tree of this process's own, so that the per-user store is an empty one
// with stray files around it. In memory where the system offers it: every store write ends
// in a flush to disk.
struct Folders
{
    QString root, home, system;
    Folders()
    {
        const QFileInfo shm(QStringLiteral("/dev/shm"));
        const QDir base = shm.isDir() && shm.isWritable() ? QDir(shm.filePath()) : QDir::temp();
        root = base.filePath(QStringLiteral("klr_fuzz_prefs_%1").arg(getpid()));
        home = root + QStringLiteral("/home");
        system = root + QStringLiteral("/xdg");
        QDir().mkpath(home);
        QDir().mkpath(system + QStringLiteral("/Quorvex"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(system));
    }
    ~Folders() { QDir(root).removeRecursively(); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > kMaxInput)
        return 0;
    static const Folders folders;
    const char *text = reinterpret_cast<const char *>(data);
    const std::size_t textLength = size == 0 ? 0 : strnlen(text, size);
    const QByteArray address(text, static_cast<qsizetype>(textLength));
    const QByteArray ini = textLength < size
                               ? StoreFile(address, text + textLength + 1, size - textLength - 1)
                               : StoreFile(address, text, size);

    int fields[4] = {-1, -1, -1, -1};
    CDlgCommNew::SplitIPv4(QString::fromUtf8(address), fields);
    for (int field : fields)
        Check(field >= 0 && field <= 255);

    // Qt keeps what it read of a settings file by name and reads it again only when its size
    // or time stamp changed: each input's file gets a time stamp of its own. (A fresh name
    // each time would grow that cache, and the leak checks with it.)
    static qint64 counter = 0;
    const QString path = QDir(folders.root).filePath(QStringLiteral("store.ini"));
    if (!WriteFile(path, ini))
        return 0;
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadWrite) ||
            !file.setFileTime(QDateTime::fromMSecsSinceEpoch(++counter * 1000, Qt::UTC),
                              QFileDevice::FileModificationTime))
            return 0;
    }
    {
        CPrefStore store(path);
        const ConnectionSettings first = store.Load();
        CheckSettings(first);
        if (ini.size() > CPrefStore::kMaxFileBytes) {
            // Not read, and not replaced by any later write.
            Check(IsDefault(first) && !store.Exists());
            store.SaveAfterDialog(3, QStringLiteral("1.2.3.4"), QStringLiteral("::1"));
            store.WriteScale(1);
            Check(ReadFile(path) == ini);
        } else {
            // What Load repaired it wrote back: a second load finds the same numbers, unless
            // that rewrite took the file beyond the limit (escapes grow it), when it is no
            // longer read at all.
            const bool grown = QFileInfo(path).size() > CPrefStore::kMaxFileBytes;
            const ConnectionSettings second = store.Load();
            CheckSettings(second);
            if (grown)
                Check(IsDefault(second));
            else
                Check(first.method == second.method && first.scale == second.scale &&
                      first.quality == second.quality);
            Check(store.ReadIPv6().toLocal8Bit().size() <= kMaxTextBytes);
        }
    }
    QFile::remove(path);

    // Only stray files and no store of the user's own: nothing of them is seen.
    const QString strays[] = {folders.home + QStringLiteral("/Quorvex.conf"),
                              folders.system + QStringLiteral("/Quorvex/KLRemote.conf"),
                              folders.system + QStringLiteral("/Quorvex.conf")};
    for (const QString &stray : strays)
        WriteFile(stray, ini);
    {
        CPrefStore native;
        Check(!native.Exists());
        Check(IsDefault(native.Load()));
    }
    for (const QString &stray : strays)
        QFile::remove(stray);
    return 0;
}
