#include "CLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

namespace {

QDateTime At(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

class LogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_now = At(2024, 3, 5, 7, 8, 9);
        CLog::Instance().SetTimeSource([this] { return m_now; });
    }
    ~LogTest() override
    {
        CLog::Instance().Close();
        CLog::Instance().SetTimeSource(nullptr);
    }

    QTemporaryDir m_dir;
    QDateTime m_now;
};

TEST_F(LogTest, FileNamedAfterOpeningSecondAndLinesExactToTheByte)
{
    CLog &log = CLog::Instance();
    ASSERT_TRUE(log.OpenIn(m_dir.path()));
    EXPECT_EQ(log.Path(), m_dir.path() + "/20240305_070809_log.txt");

    m_now = At(2024, 3, 5, 7, 8, 10);
    log.Write(std::string_view("Disconnect"));
    log.Write(QString());
    log.Write(QStringLiteral("KEYP:MODE\n"));
    m_now = At(1999, 12, 31, 23, 59, 59);
    log.Write(std::string_view("a\0b", 3));

    const QByteArray expected = QByteArray("2024-03-05 07:08:10   Disconnect\r\n"
                                           "2024-03-05 07:08:10   \r\n"
                                           "2024-03-05 07:08:10   KEYP:MODE\n\r\n"
                                           "1999-12-31 23:59:59   a") +
                                QByteArray("\0b\r\n", 4);
    EXPECT_EQ(ReadAll(log.Path()), expected);
}

TEST_F(LogTest, EachLineIsOnDiskWhenWriteReturns)
{
    CLog &log = CLog::Instance();
    ASSERT_TRUE(log.OpenIn(m_dir.path()));
    log.Write(std::string_view("first"));
    EXPECT_TRUE(ReadAll(log.Path()).endsWith("first\r\n"));
    log.Write(std::string_view("second"));
    EXPECT_TRUE(ReadAll(log.Path()).endsWith("second\r\n"));
}

TEST_F(LogTest, OpensInTheSameSecondNeverReuseAFile)
{
    CLog &log = CLog::Instance();
    ASSERT_TRUE(log.OpenIn(m_dir.path()));
    const QString first = log.Path();
    log.Write(std::string_view("run one"));

    ASSERT_TRUE(log.OpenIn(m_dir.path()));
    const QString second = log.Path();
    log.Write(std::string_view("run two"));
    ASSERT_TRUE(log.OpenIn(m_dir.path()));
    const QString third = log.Path();

    EXPECT_EQ(second, m_dir.path() + "/20240305_070809_log_2.txt");
    EXPECT_EQ(third, m_dir.path() + "/20240305_070809_log_3.txt");
    EXPECT_EQ(ReadAll(first), "2024-03-05 07:08:09   run one\r\n");
    EXPECT_EQ(ReadAll(second), "2024-03-05 07:08:09   run two\r\n");
}

TEST_F(LogTest, MissingFolderIsCreated)
{
    const QString folder = m_dir.path() + "/deep/er/log";
    ASSERT_FALSE(QDir(folder).exists());
    ASSERT_TRUE(CLog::Instance().OpenIn(folder));
    EXPECT_TRUE(QFile::exists(folder + "/20240305_070809_log.txt"));
}

TEST_F(LogTest, UnusableFolderLeavesLoggingOffWithoutHarm)
{
    // A regular file where the folder should be: no folder can be made there, even as root.
    QFile blocker(m_dir.path() + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    CLog &log = CLog::Instance();
    EXPECT_FALSE(log.OpenIn(blocker.fileName() + "/log"));
    EXPECT_FALSE(log.IsOpen());
    EXPECT_TRUE(log.Path().isEmpty());
    log.Write(std::string_view("dropped"));
    log.Write(QStringLiteral("dropped too"));
    EXPECT_EQ(ReadAll(blocker.fileName()), QByteArray());
}

TEST_F(LogTest, OpenPutsTheLogBesideTheExecutableOrInAppData)
{
    CLog &log = CLog::Instance();
    ASSERT_TRUE(log.Open());
    const QString path = log.Path();
    const QString besideExe = QCoreApplication::applicationDirPath() + "/log/";
    const QString appData =
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + "/log/";
    EXPECT_TRUE(path.startsWith(besideExe) || path.startsWith(appData)) << path.toStdString();
    EXPECT_TRUE(QFileInfo(path).fileName().startsWith("20240305_070809_log"));
    log.Close();
    QFile::remove(path);
}

TEST(LogThreads, TwoWritersNeverBreakALine)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CLog &log = CLog::Instance();
    ASSERT_TRUE(log.OpenIn(dir.path()));
    const QString path = log.Path();
    constexpr int kLines = 10000;
    auto writer = [&log](char tag) {
        for (int i = 0; i < kLines; ++i) {
            const std::string text = std::string(1, tag) + " line " + std::to_string(i) +
                                     " with some padding to make the line longer";
            log.Write(std::string_view(text));
        }
    };
    std::thread a(writer, 'A');
    std::thread b(writer, 'B');
    a.join();
    b.join();
    log.Close();

    const QByteArray all = ReadAll(path);
    ASSERT_TRUE(all.endsWith("\r\n"));
    const QList<QByteArray> lines = all.left(all.size() - 2).split('\n');
    ASSERT_EQ(lines.size(), 2 * kLines);
    const QRegularExpression pattern(QStringLiteral(
        R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d   ([AB]) line (\d+) with some padding to make the )"
        R"(line longer\r?$)"));
    int next[2] = {0, 0};
    for (const QByteArray &line : lines) {
        const auto m = pattern.match(QString::fromLatin1(line));
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        const int who = m.captured(1) == QLatin1String("A") ? 0 : 1;
        // Each writer's lines stay in its own order.
        ASSERT_EQ(m.captured(2).toInt(), next[who]);
        ++next[who];
    }
    EXPECT_EQ(next[0], kLines);
    EXPECT_EQ(next[1], kLines);
}

} // namespace
