// A settings file that is not ours: something other than a regular file at the store's path,
// or a file far larger than the store ever writes. Neither is read, and neither is replaced.
#include "CLog.h"
#include "CPrefStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <optional>

namespace {

using namespace std::chrono_literals;

// The largest settings file that is read.
constexpr qint64 kLimit = 64 * 1024;

// Every operation the panels use on the store, as one run would: load, the Communication
// dialog's read and save, then a quality and a scale choice.
ConnectionSettings UseTheStore(CPrefStore &store)
{
    const ConnectionSettings loaded = store.Load();
    store.ReadIPv6();
    store.SaveAfterDialog(1, "10.1.1.1", "fe80::1");
    store.SaveAfterDialog(3, "10.1.1.1", "fe80::1");
    store.WriteQuality(2);
    store.WriteScale(1);
    return loaded;
}

// A literal's bytes, NULs included.
template <std::size_t N>
QByteArray Bytes(const char (&text)[N])
{
    return QByteArray(text, static_cast<qsizetype>(N - 1));
}

void ExpectDefaults(const ConnectionSettings &s)
{
    EXPECT_EQ(s.method, 2);
    EXPECT_EQ(s.ipv4, QString::fromLatin1(kDefaultIPv4));
    EXPECT_EQ(s.ipv6, "0:0:0:0:0:0:0:1");
    EXPECT_EQ(s.scale, 0);
    EXPECT_EQ(s.quality, 0);
}

class RegressHostileSettingsFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath("log")));
        ASSERT_TRUE(CLog::Instance().OpenIn(m_dir.filePath("log")));
    }
    ~RegressHostileSettingsFile() override { CLog::Instance().Close(); }

    QString Path() const { return m_dir.filePath("KLRemote.conf"); }

    void Write(const QByteArray &bytes) const
    {
        QFile f(Path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray Read() const
    {
        QFile f(Path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // The log lines that name the store's file.
    int LogLinesAboutTheFile() const
    {
        QFile log(CLog::Instance().Path());
        if (!log.open(QIODevice::ReadOnly))
            return -1;
        int count = 0;
        for (const QByteArray &line : log.readAll().split('\n'))
            count += line.contains(QFile::encodeName(QDir::toNativeSeparators(Path()))) ? 1 : 0;
        return count;
    }

    QByteArray Padded(QByteArray text, qint64 size) const
    {
        while (text.size() < size)
            text += "; not written by the program\n";
        return text.left(size);
    }

    QTemporaryDir m_dir;
};

TEST_F(RegressHostileSettingsFile, AFifoIsNeitherOpenedNorReplaced)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path()).constData(), 0600), 0);
    auto use = std::async(std::launch::async, [this] {
        CPrefStore store(Path());
        return UseTheStore(store);
    });
    if (use.wait_for(10s) != std::future_status::ready) {
        // A reader blocked in open() is released by a writer that comes and goes; it may
        // come back for more, so keep releasing it until it is done.
        while (use.wait_for(50ms) != std::future_status::ready) {
            const int fd = ::open(QFile::encodeName(Path()).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
        FAIL() << "the store blocked on the FIFO";
    }
    ExpectDefaults(use.get());
    struct stat st
    {
    };
    ASSERT_EQ(::lstat(QFile::encodeName(Path()).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(LogLinesAboutTheFile(), 1);
}

TEST_F(RegressHostileSettingsFile, AFileOverTheLimitIsNeitherReadNorReplaced)
{
    const QByteArray stored = "[Connection]\nMethod=1\nIP=10.9.8.7\nScale=2\nQuality=1\n";
    const QByteArray big = Padded(stored, kLimit + 1);
    {
        QFile f(Path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(big);
    }
    {
        CPrefStore store(Path());
        EXPECT_FALSE(store.Exists());
        ExpectDefaults(UseTheStore(store));
    }
    QFile f(Path());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll() == big);
    f.close();
    EXPECT_EQ(LogLinesAboutTheFile(), 1);

    // At the limit the file is the operator's and reads as usual.
    ASSERT_TRUE(f.resize(kLimit));
    CPrefStore store(Path());
    const ConnectionSettings s = store.Load();
    EXPECT_EQ(s.method, 1);
    EXPECT_EQ(s.ipv4, "10.9.8.7");
    EXPECT_EQ(s.scale, 2);
    EXPECT_EQ(s.quality, 1);
}

// QSettings builds whatever object a "@Variant(...)" value describes as it reads the file:
// a picture handed to every image decoder, containers declaring billions of entries.
TEST_F(RegressHostileSettingsFile, SerialisedValuesAreNeitherReadNorReplaced)
{
    const QByteArray int3 = Bytes("\0\0\0\x02\0\0\0\x03"); // serialised int 3
    const QByteArray forms[] = {
        // An int, and a picture that every image reader is asked to decode.
        "Method=@Variant(" + int3 + ")\n",
        Bytes("Quality=@Variant(\0\0\0A\x89PNG\\r\\n\x1a\\n)\n"),
        // The same "@Variant(" spelt with escapes, in quotes, in lists, after a line
        // continuation and after an escape that stands for nothing.
        "Method=\\x40Variant(" + int3 + ")\n",
        "Method=@\\126ariant(" + int3 + ")\n",
        "Method=\"@Variant(" + int3 + ")\"\n",
        Bytes("UsbId=1234:abcd, @DateTime(\0\0\0\x10)\n"),
        "UsbId=1234:abcd\\\n,@Variant(" + int3 + ")\n",
        "Method=\\q@Variant(" + int3 + ")\n",
    };
    int expectedLines = 0;
    for (const QByteArray &form : forms) {
        SCOPED_TRACE(form.toStdString());
        const QByteArray file = "[Connection]\nIP=10.9.8.7\nScale=2\n" + form;
        Write(file);
        {
            CPrefStore store(Path());
            ExpectDefaults(UseTheStore(store));
        }
        EXPECT_EQ(Read(), file);
        EXPECT_EQ(LogLinesAboutTheFile(), ++expectedLines);
    }

    // What the program writes, and plain "@" texts, read as usual.
    Write("[Connection]\nMethod=1\nIP=@ByteArray(10.1.2.3)\nIPV6=@@fe80::1@x\nScale=2\n"
          "UsbId=1234:abcd, 1234:abce\n");
    const ConnectionSettings s = CPrefStore(Path()).Load();
    EXPECT_EQ(s.method, 1);
    EXPECT_EQ(s.ipv4, "10.1.2.3");
    EXPECT_EQ(s.ipv6, "@fe80::1@x");
    EXPECT_EQ(s.scale, 2);
    EXPECT_EQ(LogLinesAboutTheFile(), expectedLines);
}

} // namespace
