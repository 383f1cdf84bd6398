// The operator's and the store's texts: CDlgCommNew::SplitIPv4 over any text, and
// CPrefStore::Load over any INI file content.
//
// Input layout: the text up to the first NUL is split as an IPv4 address; the whole input
// is also written as the store's INI file.
#include "CDlgCommNew.h"
#include "CPrefStore.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kMaxInput = 64 * 1024;
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > kMaxInput)
        return 0;
    const char *text = reinterpret_cast<const char *>(data);
    const std::size_t textLength = size == 0 ? 0 : strnlen(text, size);

    int fields[4] = {-1, -1, -1, -1};
    CDlgCommNew::SplitIPv4(QString::fromUtf8(text, static_cast<qsizetype>(textLength)), fields);
    for (int field : fields)
        Check(field >= 0 && field <= 255);

    // A fresh name each time: Qt caches settings files by name.
    static unsigned counter = 0;
    const QString path = QDir::temp().filePath(
        QStringLiteral("klr_fuzz_prefs_%1_%2.ini").arg(getpid()).arg(counter++));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(text, static_cast<qint64>(size));
    }
    {
        CPrefStore store(path);
        const ConnectionSettings first = store.Load();
        CheckSettings(first);
        // What Load repaired it wrote back: a second load finds the same numbers.
        const ConnectionSettings second = store.Load();
        CheckSettings(second);
        Check(first.method == second.method && first.scale == second.scale &&
              first.quality == second.quality);
        Check(store.ReadIPv6().toLocal8Bit().size() <= kMaxTextBytes);
    }
    QFile::remove(path);
    return 0;
}
