#include "CPrefStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

namespace {

class PrefStoreTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString Ini() const { return m_dir.path() + "/prefs.ini"; }

    // What another program (or the next run) would find in the store.
    QVariant Raw(const char *name) const
    {
        QSettings s(Ini(), QSettings::IniFormat);
        return s.value(QStringLiteral("Connection/") + QLatin1String(name));
    }
    void Put(const char *name, const QVariant &value) const
    {
        QSettings s(Ini(), QSettings::IniFormat);
        s.setValue(QStringLiteral("Connection/") + QLatin1String(name), value);
    }

    QTemporaryDir m_dir;
};

TEST_F(PrefStoreTest, FirstRunGivesDefaultsAndScaleOrQualityDoNotCreateTheStore)
{
    {
        CPrefStore store(Ini());
        EXPECT_FALSE(store.Exists());
        const ConnectionSettings s = store.Load();
        EXPECT_EQ(s.method, 2);
        EXPECT_EQ(s.scale, 0);
        EXPECT_EQ(s.quality, 0);
        EXPECT_EQ(s.ipv4, QString::fromLatin1(kDefaultIPv4));
        EXPECT_EQ(s.ipv6, "0:0:0:0:0:0:0:1");
        EXPECT_TRUE(s.usbIds.isEmpty());
        EXPECT_EQ(store.ReadIPv6(), "0:0:0:0:0:0:0:1");

        store.WriteQuality(2);
        store.WriteScale(1);
        EXPECT_FALSE(store.Exists());
    }
    CPrefStore restarted(Ini());
    EXPECT_FALSE(restarted.Exists());
    const ConnectionSettings s = restarted.Load();
    EXPECT_EQ(s.quality, 0);
    EXPECT_EQ(s.scale, 0);
}

TEST_F(PrefStoreTest, ConfirmingIPv6OnFirstRunCreatesTheStore)
{
    {
        CPrefStore store(Ini());
        store.SaveAfterDialog(3, "10.0.0.9", "fe80::1234");
    }
    EXPECT_EQ(Raw("IPV6").toString(), "fe80::1234");
    EXPECT_EQ(Raw("Method").toInt(), 3);
    EXPECT_FALSE(Raw("IP").isValid());

    CPrefStore next(Ini());
    ASSERT_TRUE(next.Exists());
    const ConnectionSettings s = next.Load();
    EXPECT_EQ(s.method, 3);
    EXPECT_EQ(s.ipv6, "fe80::1234");
    EXPECT_EQ(s.ipv4, "0.0.0.0"); // the store exists but holds no "IP"
    // Missing scale and quality are repaired in the store.
    EXPECT_EQ(Raw("Scale").toInt(), 0);
    EXPECT_TRUE(Raw("Scale").isValid());
    EXPECT_TRUE(Raw("Quality").isValid());

    // Once the store exists, single values are kept.
    next.WriteQuality(2);
    next.WriteScale(1);
    EXPECT_EQ(Raw("Quality").toInt(), 2);
    EXPECT_EQ(Raw("Scale").toInt(), 1);
    const ConnectionSettings again = CPrefStore(Ini()).Load();
    EXPECT_EQ(again.quality, 2);
    EXPECT_EQ(again.scale, 1);
}

TEST_F(PrefStoreTest, BadMethodLoadsAsUsbAndStaysInTheStore)
{
    for (const QVariant &stored :
         {QVariant(0), QVariant(7), QVariant(-1), QVariant("abc"), QVariant("3x"), QVariant("")}) {
        Put("Method", stored);
        Put("IP", "192.168.0.5");
        const ConnectionSettings s = CPrefStore(Ini()).Load();
        EXPECT_EQ(s.method, 2) << stored.toString().toStdString();
        EXPECT_EQ(Raw("Method").toString(), stored.toString());
        EXPECT_EQ(s.ipv4, "192.168.0.5");
    }
    for (int good : {1, 2, 3}) {
        Put("Method", good);
        EXPECT_EQ(CPrefStore(Ini()).Load().method, good);
    }
}

TEST_F(PrefStoreTest, OutOfRangeOrUnreadableScaleAndQualityAreRepairedToZero)
{
    struct Case
    {
        QVariant scale, quality;
        int wantScale, wantQuality;
        bool scaleRewritten, qualityRewritten;
    };
    const Case cases[] = {
        {5, 9, 0, 0, true, true},      {2, 1, 2, 1, false, false}, {-1, 3, 0, 0, true, true},
        {"abc", 2, 0, 2, true, false}, {1, "", 1, 0, false, true},
    };
    for (const Case &c : cases) {
        Put("Method", 1);
        Put("Scale", c.scale);
        Put("Quality", c.quality);
        const ConnectionSettings s = CPrefStore(Ini()).Load();
        EXPECT_EQ(s.scale, c.wantScale) << c.scale.toString().toStdString();
        EXPECT_EQ(s.quality, c.wantQuality) << c.quality.toString().toStdString();
        EXPECT_EQ(Raw("Scale").toString(), c.scaleRewritten ? "0" : c.scale.toString());
        EXPECT_EQ(Raw("Quality").toString(), c.qualityRewritten ? "0" : c.quality.toString());
    }
}

TEST_F(PrefStoreTest, UsbConfirmWritesOnlyTheMethod)
{
    Put("Method", 1);
    Put("IP", "192.168.1.20");
    Put("IPV6", "fe80::20");
    CPrefStore(Ini()).SaveAfterDialog(2, "1.1.1.1", "::9");
    EXPECT_EQ(Raw("Method").toInt(), 2);
    EXPECT_EQ(Raw("IP").toString(), "192.168.1.20");
    EXPECT_EQ(Raw("IPV6").toString(), "fe80::20");

    CPrefStore(Ini()).SaveAfterDialog(1, "10.20.30.40", "::7");
    EXPECT_EQ(Raw("Method").toInt(), 1);
    EXPECT_EQ(Raw("IP").toString(), "10.20.30.40");
    EXPECT_EQ(Raw("IPV6").toString(), "fe80::20");
}

TEST_F(PrefStoreTest, TextsAreReadAsStoredWithinTheirLength)
{
    Put("Method", 1);
    Put("IP", QString(255, QLatin1Char('9')));
    Put("IPV6", QString(256, QLatin1Char('f')));
    Put("UsbId", "1234:abcd,1234:abce");
    CPrefStore store(Ini());
    const ConnectionSettings s = store.Load();
    EXPECT_EQ(s.ipv4, QString(255, QLatin1Char('9')));
    // A text too long for its buffer does not read, and the default applies.
    EXPECT_EQ(s.ipv6, "0:0:0:0:0:0:0:1");
    EXPECT_EQ(store.ReadIPv6(), "0:0:0:0:0:0:0:1");
    EXPECT_EQ(s.usbIds, "1234:abcd,1234:abce");
    EXPECT_FALSE(Raw("UsbId").toString().isEmpty()); // read, never rewritten or removed

    Put("IPV6", "fe80::abcd%eth0");
    EXPECT_EQ(store.ReadIPv6(), "fe80::abcd%eth0"); // read afresh, not from the earlier load
}

TEST_F(PrefStoreTest, CorruptStoreFileGivesDefaults)
{
    QFile f(Ini());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\x00\xff[[[Connection\nMethod=\x01\x02\n=\n[", 30);
    f.close();
    CPrefStore store(Ini());
    const ConnectionSettings s = store.Load();
    EXPECT_TRUE(s.method >= 1 && s.method <= 3);
    EXPECT_TRUE(s.scale >= 0 && s.scale <= 2);
    EXPECT_TRUE(s.quality >= 0 && s.quality <= 2);
}

// The per-user and system-wide configuration folders pointed at a scratch tree for one test.
class ScopedConfigFolders
{
public:
    ScopedConfigFolders(const QString &home, const QString &system)
        : m_home(Save("XDG_CONFIG_HOME")), m_dirs(Save("XDG_CONFIG_DIRS"))
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(system));
    }
    ~ScopedConfigFolders()
    {
        Restore("XDG_CONFIG_HOME", m_home);
        Restore("XDG_CONFIG_DIRS", m_dirs);
    }

private:
    static std::optional<QByteArray> Save(const char *name)
    {
        return qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    }
    static void Restore(const char *name, const std::optional<QByteArray> &value)
    {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    std::optional<QByteArray> m_home, m_dirs;
};

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

#if !defined(Q_OS_WIN) && !defined(Q_OS_DARWIN)
class RegressPrefStoreFallbacks : public PrefStoreTest
{
protected:
    QString Home() const { return m_dir.path() + "/home"; }
    QString System() const { return m_dir.path() + "/xdg"; }

    // Files QSettings would consult besides the user's own: the organisation-wide file of
    // the user and both files of the system-wide folder.
    void PlantStrayFiles()
    {
        const QByteArray stray = "[Connection]\nMethod=1\nIP=10.9.8.7\nIPV6=fe80::bad\n"
                                 "Scale=2\nQuality=1\n";
        for (const QString &path : StrayFiles())
            WriteFile(path, stray);
    }
    QStringList StrayFiles() const
    {
        return {Home() + "/Quorvex.conf", System() + "/Quorvex/KLRemote.conf",
                System() + "/Quorvex.conf"};
    }
    QString OwnFile() const { return Home() + "/Quorvex/KLRemote.conf"; }
};

TEST_F(RegressPrefStoreFallbacks, OnlyTheUsersOwnStoreIsReadOrWritten)
{
    ScopedConfigFolders folders(Home(), System());
    PlantStrayFiles();
    EXPECT_EQ(CPrefStore::UserStorePath(), OwnFile());
    {
        CPrefStore store;
        EXPECT_FALSE(store.Exists());
        const ConnectionSettings s = store.Load();
        EXPECT_EQ(s.method, 2);
        EXPECT_EQ(s.ipv4, QString::fromLatin1(kDefaultIPv4));
        EXPECT_EQ(s.ipv6, "0:0:0:0:0:0:0:1");
        EXPECT_EQ(s.scale, 0);
        EXPECT_EQ(s.quality, 0);
        EXPECT_EQ(store.ReadIPv6(), "0:0:0:0:0:0:0:1");
        store.WriteScale(1); // no store yet: not kept
        EXPECT_FALSE(QFile::exists(OwnFile()));

        // The first confirmed dialog creates the user's store, and only what it wrote is there.
        store.SaveAfterDialog(3, "1.2.3.4", "fe80::1");
    }
    CPrefStore next;
    const ConnectionSettings s = next.Load();
    EXPECT_EQ(s.method, 3);
    EXPECT_EQ(s.ipv6, "fe80::1");
    EXPECT_EQ(s.ipv4, "0.0.0.0");
    EXPECT_EQ(s.scale, 0);
    EXPECT_EQ(s.quality, 0);
    for (const QString &path : StrayFiles())
        EXPECT_FALSE(ReadFile(path).contains("Method=3")) << path.toStdString();

    // Still the file QSettings itself names as the user's native store.
    EXPECT_EQ(
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quorvex", "KLRemote").fileName(),
        OwnFile());
}

TEST_F(RegressPrefStoreFallbacks, AnEmptyGroupIsAStoreWithItsUnsetValues)
{
    ScopedConfigFolders folders(Home(), System());
    PlantStrayFiles();
    WriteFile(OwnFile(), "[Connection]\n");
    CPrefStore store;
    EXPECT_TRUE(store.Exists());
    const ConnectionSettings s = store.Load();
    EXPECT_EQ(s.method, 2);
    EXPECT_EQ(s.ipv4, "0.0.0.0");
    EXPECT_EQ(s.ipv6, "0:0:0:0:0:0:0:1");
    EXPECT_EQ(s.scale, 0);
    EXPECT_EQ(s.quality, 0);
    // Missing scale and quality are repaired in the store that exists.
    QSettings own(OwnFile(), QSettings::IniFormat);
    EXPECT_EQ(own.value("Connection/Scale").toString(), "0");
    EXPECT_EQ(own.value("Connection/Quality").toString(), "0");
    EXPECT_FALSE(own.value("Connection/IP").isValid());
}
#endif

} // namespace
