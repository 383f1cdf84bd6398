#include "WholeScaleFactors.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <limits>

namespace {

TEST(WholeScaleFactors, FractionsRoundDownBelowThreeQuarters)
{
    EXPECT_EQ(WholeScaleFactor(1.0), 1);
    EXPECT_EQ(WholeScaleFactor(1.25), 1);
    EXPECT_EQ(WholeScaleFactor(1.5), 1);
    EXPECT_EQ(WholeScaleFactor(1.75), 2);
    EXPECT_EQ(WholeScaleFactor(2.5), 2);
    EXPECT_EQ(WholeScaleFactor(0.5), 1);
    EXPECT_EQ(WholeScaleFactor(std::numeric_limits<double>::quiet_NaN()), 1);
    EXPECT_EQ(WholeScaleFactor(1e300), 64);
    EXPECT_EQ(WholeScreenScaleFactors("1.5"), "1");
    EXPECT_EQ(WholeScreenScaleFactors("eDP-1=1.5;HDMI-1=2.8;odd=x;"), "eDP-1=1;HDMI-1=3;odd=x;");
}

// The device pixel ratio the start-up rule leaves a window, in a fresh process.
QString RatioWith(const QStringList &environment)
{
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name :
         {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_SCALE_FACTOR_ROUNDING_POLICY",
          "QT_ENABLE_HIGHDPI_SCALING", "QT_USE_PHYSICAL_DPI"})
        env.remove(QLatin1String(name));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    for (const QString &pair : environment)
        env.insert(pair.section('=', 0, 0), pair.section('=', 1));
    probe.setProcessEnvironment(env);
    probe.start(QStringLiteral(KLR_DPR_PROBE), {});
    if (!probe.waitForFinished(30000)) {
        probe.kill();
        probe.waitForFinished();
        return QStringLiteral("hung");
    }
    return QString::fromLatin1(probe.readAllStandardOutput()).trimmed();
}

TEST(RegressHighDpi, WindowsGetWholePixelRatiosAtFractionalScales)
{
    // A 144 dpi screen (150 %), asked for with a pass-through rounding policy.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString config = dir.filePath("screen.json");
    {
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(R"({"screens":[{"name":"s","x":0,"y":0,"width":1920,"height":1080,)"
                R"("logicalDpi":144,"logicalBaseDpi":96,"dpr":1}]})");
    }
    EXPECT_EQ(RatioWith({}), "1");
    EXPECT_EQ(RatioWith({"QT_SCALE_FACTOR=1.5"}), "1");
    EXPECT_EQ(RatioWith({"QT_SCREEN_SCALE_FACTORS=1.5"}), "1");
    EXPECT_EQ(RatioWith({"QT_SCALE_FACTOR=1.25", "QT_SCREEN_SCALE_FACTORS=1.5"}), "1");
    EXPECT_EQ(RatioWith({"QT_QPA_PLATFORM=offscreen:configfile=" + config,
                         "QT_SCALE_FACTOR_ROUNDING_POLICY=PassThrough"}),
              "1");
    // Whole factors stay as they are; 175 % rounds up.
    EXPECT_EQ(RatioWith({"QT_SCALE_FACTOR=2"}), "2");
    EXPECT_EQ(RatioWith({"QT_SCREEN_SCALE_FACTORS=1.75"}), "2");
}

} // namespace
