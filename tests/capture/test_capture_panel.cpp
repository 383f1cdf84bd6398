// Screenshots, the clipboard and recordings of a live panel against the simulated instrument.
#include "CRecordIndicator.h"
#include "CRemoteDlgKKC.h"
#include "CRemoteDlgLK.h"
#include "CaptureIds.h"
#include "CaptureRig.h"
#include "RecordingProbe.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

using namespace capture_ids;
using KkcHarness = BasicPanelHarness<CRemoteDlgKKC>;
using LkHarness = BasicPanelHarness<CRemoteDlgLK>;

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QImage Rgb32(const QImage &image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

// Run until remote control is stopped and the last picture fetched has been shown.
void StopAndSettle(KkcHarness &h)
{
    h.panel->OnCommand(ids::IDC_STOP);
    ASSERT_TRUE(WaitFor([&] { return h.panel->Session().m_bScreenReady == 1; }));
    Spin(100);
}

} // namespace

TEST(CaptureScreenshot, SavedAtTheInstrumentsResolutionWithoutLosingAnEarlierFile)
{
    KkcHarness h;
    ASSERT_TRUE(h.StartServerAs("KL535C"));
    h.Open(1);
    CaptureRig rig;
    rig.Attach(h, 1);
    rig.feature->SetClock([] { return QDateTime(QDate(2025, 3, 5), QTime(14, 3, 7)); });

    // Nothing to save before the first picture.
    EXPECT_FALSE(CaptureRig::ItemEnabled(*h.panel, ID_SAVE_SCREENSHOT));
    EXPECT_FALSE(CaptureRig::ItemEnabled(*h.panel, ID_SAVE_SCREENSHOT_AS));
    EXPECT_FALSE(CaptureRig::ItemEnabled(*h.panel, ID_COPY_SCREENSHOT));
    EXPECT_TRUE(h.panel->OnCommand(ID_SAVE_SCREENSHOT));
    EXPECT_FALSE(QDir(rig.Pictures()).exists());

    ASSERT_TRUE(h.Run());
    StopAndSettle(h);
    EXPECT_TRUE(CaptureRig::ItemEnabled(*h.panel, ID_SAVE_SCREENSHOT));
    ASSERT_EQ(rig.feature->LastFrame().jpeg, h.instrument->LastScreenJpeg());

    // PNG, the picture as shown, in the Pictures folder (made on demand); the second save of
    // the same second gets "_2".
    ASSERT_TRUE(h.panel->OnCommand(ID_SAVE_SCREENSHOT));
    const QString first = QDir(rig.Pictures()).filePath("KLRemote_KL535C_20250305_140307.png");
    EXPECT_EQ(rig.feature->LastSaved(), first);
    ASSERT_TRUE(h.panel->OnCommand(ID_SAVE_SCREENSHOT));
    const QString second = QDir(rig.Pictures()).filePath("KLRemote_KL535C_20250305_140307_2.png");
    EXPECT_EQ(rig.feature->LastSaved(), second);
    EXPECT_EQ(h.panel->PaneText(0), "Saved KLRemote_KL535C_20250305_140307_2.png");
    EXPECT_NE(h.LogIndex("Saved KLRemote_KL535C_20250305_140307_2.png"), -1);
    const QImage png(first, "PNG");
    ASSERT_EQ(png.size(), QSize(800, 480));
    EXPECT_EQ(Rgb32(png), Rgb32(h.panel->ScreenPicture()));
    EXPECT_EQ(ReadAll(first), ReadAll(second));

    // Save As JPEG: the instrument's bytes as they came; a name without a type becomes PNG.
    rig.saveAsPath = rig.folders.filePath("report/shot.JPG");
    QDir().mkpath(rig.folders.filePath("report"));
    ASSERT_TRUE(h.panel->OnCommand(ID_SAVE_SCREENSHOT_AS));
    EXPECT_EQ(rig.suggested, first);
    EXPECT_EQ(ReadAll(rig.saveAsPath), h.instrument->LastScreenJpeg());
    rig.saveAsPath = rig.folders.filePath("report/shot");
    ASSERT_TRUE(h.panel->OnCommand(ID_SAVE_SCREENSHOT_AS));
    EXPECT_EQ(Rgb32(QImage(rig.saveAsPath + ".png", "PNG")), Rgb32(h.panel->ScreenPicture()));

    // The clipboard gets the same picture.
    ASSERT_TRUE(h.panel->OnCommand(ID_COPY_SCREENSHOT));
    EXPECT_EQ(Rgb32(QGuiApplication::clipboard()->image()), Rgb32(h.panel->ScreenPicture()));

    // A folder that cannot be made: the reason in pane 0 and the log, the earlier files kept.
    rig.feature->SetFolders(first + "/sub", rig.Videos());
    EXPECT_FALSE(rig.feature->SaveScreenshot());
    EXPECT_TRUE(h.panel->PaneText(0).startsWith("Screenshot not saved: the folder "))
        << h.panel->PaneText(0).toStdString();
    EXPECT_NE(h.LogIndex(h.panel->PaneText(0)), -1);
    EXPECT_TRUE(QImage(first, "PNG").size() == QSize(800, 480));
    EXPECT_TRUE(rig.warnings.isEmpty());
}

TEST(CaptureScreenshot, TheLkPanelSavesTheFullScreenWhileShowingItScaled)
{
    LkHarness h;
    h.Preset("Scale", 1);
    ASSERT_TRUE(h.StartServerAs("KL561B"));
    h.Open(1);
    CaptureRig rig;
    rig.Attach(h, 0);
    ASSERT_TRUE(h.Run());
    ASSERT_EQ(h.panel->ScreenPicture().size(), QSize(680, 510));
    ASSERT_TRUE(rig.feature->SaveScreenshot());
    EXPECT_TRUE(QFileInfo(rig.feature->LastSaved()).fileName().startsWith("KLRemote_KL561B_"));
    const QImage png(rig.feature->LastSaved(), "PNG");
    EXPECT_EQ(png.size(), QSize(800, 600));
    EXPECT_EQ(Rgb32(png), Rgb32(Decoded(rig.feature->LastFrame().jpeg)));
}

TEST(CaptureScreenshot, CtrlSCtrlCAndCtrlRWorkOnThePanel)
{
    KkcHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    CaptureRig rig;
    rig.Attach(h, 1);
    ASSERT_TRUE(h.Run());
    h.panel->show();
    QApplication::setActiveWindow(h.panel.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(h.panel.get()));

    QTest::keyClick(h.panel.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(QFile::exists(rig.feature->LastSaved()));
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(h.panel.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_FALSE(QGuiApplication::clipboard()->image().isNull());
    QTest::keyClick(h.panel.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(rig.feature->IsRecording());
    QTest::keyClick(h.panel.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_FALSE(rig.feature->IsRecording());
    // None of them reached the instrument as a key.
    for (const std::string &sent : h.Sent())
        EXPECT_EQ(sent.rfind("KEYP:", 0), std::string::npos) << sent;
}

TEST(CaptureRecording, EveryPictureGoesInUnchangedWithItsArrivalTime)
{
    KkcHarness h;
    ASSERT_TRUE(h.StartServerAs("KL535C"));
    h.Open(1);
    h.panel->SetRefreshCycleMs(150);
    CaptureRig rig;
    rig.Attach(h, 1);

    ASSERT_TRUE(h.Connect());
    EXPECT_FALSE(CaptureRig::ItemEnabled(*h.panel, ID_RECORD)); // nothing to record yet
    EXPECT_FALSE(rig.feature->StartRecording());
    h.panel->OnCommand(ids::IDC_START);
    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= 1; }));

    std::vector<QByteArray> recorded;
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    QObject::connect(&h.panel->Session(), &CRemoteSession::screenReady, rig.feature,
                     [&](const ScreenFrame &frame) {
                         if (rig.feature->IsRecording()) {
                             recorded.push_back(frame.jpeg);
                             arrivals.push_back(frame.arrived);
                         }
                     });
    ASSERT_TRUE(h.panel->OnCommand(ID_RECORD));
    ASSERT_TRUE(rig.feature->IsRecording());
    bool checked = false;
    EXPECT_TRUE(CaptureRig::ItemEnabled(*h.panel, ID_RECORD, &checked));
    EXPECT_TRUE(checked);
    const QString path = rig.feature->LastSaved();
    EXPECT_TRUE(path.startsWith(rig.Videos() + "/KLRemote_KL535C_")) << path.toStdString();
    EXPECT_TRUE(path.endsWith(".mkv"));
    EXPECT_TRUE(rig.feature->Indicator()->isVisibleTo(h.panel.get()));

    constexpr std::size_t kFrames = 5;
    ASSERT_TRUE(WaitFor([&] { return recorded.size() >= kFrames; }));
    Spin(700); // the indicator's figures move on
    EXPECT_NE(rig.feature->Indicator()->Text(), CRecordIndicator::Figures(0, 0));
    ASSERT_TRUE(h.panel->OnCommand(ID_RECORD));
    EXPECT_FALSE(rig.feature->IsRecording());
    EXPECT_FALSE(rig.feature->Indicator()->isVisibleTo(h.panel.get()));
    EXPECT_EQ(h.panel->PaneText(0),
              QString("Saved %1 (%2 frames)").arg(QFileInfo(path).fileName()).arg(recorded.size()));

    const probe::File file = probe::Read(path);
    ASSERT_TRUE(file.opened);
    EXPECT_EQ(file.codec, "mjpeg");
    EXPECT_EQ(file.tags.value("KLREMOTE_FAMILY"), "1");
    EXPECT_EQ(file.tags.value("KLREMOTE_MODEL"), "KL535C");
    ASSERT_EQ(file.packets.size(), recorded.size());
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        EXPECT_EQ(file.packets[i].bytes, recorded[i]) << i;
        EXPECT_EQ(file.packets[i].ms,
                  std::chrono::duration_cast<std::chrono::milliseconds>(arrivals[i] - arrivals[0])
                      .count())
            << i;
        if (i > 0) {
            EXPECT_GT(file.packets[i].ms, file.packets[i - 1].ms);
        }
    }

    if (!probe::HaveFfprobe())
        GTEST_SKIP() << "ffprobe not installed";
    probe::ExpectFfprobeFindsMjpeg(path, int(recorded.size()));
}

TEST(CaptureRecording, StopEndsItAndAFullDiskOrAWriteErrorStopsItWhileTheSessionGoesOn)
{
    KkcHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    h.panel->SetRefreshCycleMs(100);
    CaptureRig rig;
    rig.Attach(h, 1);
    ASSERT_TRUE(h.Run());

    // Stop ends the recording, with a proper end of file.
    ASSERT_TRUE(rig.feature->StartRecording());
    ASSERT_TRUE(WaitFor([&] { return rig.feature->Recorder()->Frames() >= 2; }));
    h.panel->OnCommand(ids::IDC_STOP);
    EXPECT_FALSE(rig.feature->IsRecording());
    EXPECT_GE(probe::Read(rig.feature->LastSaved()).packets.size(), 2u);
    h.panel->OnCommand(ids::IDC_START);

    // Less than 50 MB free.
    std::atomic<qint64> freeBytes{qint64(1) << 40};
    rig.feature->SetFreeSpaceProbe([&freeBytes] { return freeBytes.load(); });
    ASSERT_TRUE(rig.feature->StartRecording());
    const QString lowPath = rig.feature->LastSaved();
    ASSERT_TRUE(WaitFor([&] { return rig.feature->Recorder()->Frames() >= 2; }));
    freeBytes = capture::kMinFreeBytes - 1;
    ASSERT_TRUE(WaitFor([&] { return !rig.feature->IsRecording(); }));
    const QString lowText = "Recording stopped: less than 50 MB free on the disk";
    EXPECT_EQ(rig.warnings, QStringList{lowText});
    EXPECT_EQ(h.panel->PaneText(0), lowText);
    EXPECT_NE(h.LogIndex(lowText), -1);
    EXPECT_GE(probe::Read(lowPath).packets.size(), 2u);
    int shown = h.panel->PicturesShown();
    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= shown + 2; }));
    EXPECT_EQ(h.panel->State(), SessionState::Started);

    // The disk refuses a write.
    rig.warnings.clear();
    freeBytes = qint64(1) << 40;
    const qint64 limit = 3 * rig.feature->LastFrame().jpeg.size();
    rig.feature->SetRecordingDeviceWrapper([limit](std::unique_ptr<QFile> file) {
        return std::make_unique<probe::FailingFile>(std::move(file), limit);
    });
    ASSERT_TRUE(rig.feature->StartRecording());
    const QString failPath = rig.feature->LastSaved();
    ASSERT_TRUE(WaitFor([&] { return !rig.feature->IsRecording(); }));
    ASSERT_EQ(rig.warnings.size(), 1);
    EXPECT_EQ(rig.warnings[0],
              "Recording stopped: a frame cannot be written: No space left on device");
    EXPECT_TRUE(probe::Read(failPath).opened);
    shown = h.panel->PicturesShown();
    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= shown + 2; }));
    EXPECT_EQ(h.panel->State(), SessionState::Started);
}
