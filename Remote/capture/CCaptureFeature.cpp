#include "CCaptureFeature.h"

#include "CLog.h"
#include "CRecordIndicator.h"
#include "CRecordingReader.h"
#include "CRemoteDlg.h"
#include "CSessionStatusBar.h"
#include "CaptureFiles.h"
#include "CaptureIds.h"
#include "CaptureNames.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QShortcut>
#include <QStandardPaths>
#include <QTimer>

namespace {

using namespace capture_ids;

constexpr const char *kItemSave = "Save Screenshot";
constexpr const char *kItemSaveAs = "Save Screenshot As...";
constexpr const char *kItemCopy = "Copy Screenshot";
constexpr const char *kItemRecord = "Record";
constexpr const char *kItemOpen = "Open Recording...";

constexpr const char *kSaved = "Saved %1";
constexpr const char *kNotSaved = "Screenshot not saved: %1";
constexpr const char *kCopied = "Screenshot copied";
constexpr const char *kRecordingTo = "Recording to %1";
constexpr const char *kRecordingSaved = "Saved %1 (%2 frames)";
constexpr const char *kRecordingEmpty = "Recording ended without a picture; no file kept";
constexpr const char *kRecordingNotStarted = "Recording not started: %1";
constexpr const char *kRecordingStopped = "Recording stopped: %1";
constexpr const char *kRecordingDropped = "Recording: %1 pictures dropped, the disk was too slow";
constexpr const char *kReplayNotStarted = "Cannot start the replay of %1";

constexpr const char *kSaveAsTitle = "Save Screenshot As";
constexpr const char *kOpenTitle = "Open Recording";
constexpr const char *kPngFilter = "PNG image (*.png)";
constexpr const char *kJpegFilter = "JPEG image, as the instrument sent it (*.jpg *.jpeg)";
constexpr const char *kRecordingFilter = "KLRemote recordings (*.mkv);;All files (*)";
constexpr const char *kReplayOption = "--replay";

constexpr int kNoteMs = 4000;
constexpr int kFailNoteMs = 15000;
constexpr int kIndicatorMs = 500;

QString Text(const char *text)
{
    return QString::fromUtf8(text);
}

QString DefaultFolder(QStandardPaths::StandardLocation location)
{
    const QString folder = QStandardPaths::writableLocation(location);
    return folder.isEmpty() ? QDir::homePath() : folder;
}

QString AskSaveAs(QWidget *parent, const QString &suggested)
{
    QString filter;
    QString path = QFileDialog::getSaveFileName(
        parent, Text(kSaveAsTitle), suggested,
        Text(kPngFilter) + QStringLiteral(";;") + Text(kJpegFilter), &filter);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += filter == Text(kJpegFilter) ? QStringLiteral(".jpg") : QStringLiteral(".png");
    return path;
}

QString AskRecording(QWidget *parent, const QString &folder)
{
    return QFileDialog::getOpenFileName(parent, Text(kOpenTitle), folder, Text(kRecordingFilter));
}

void Warn(QWidget *parent, const QString &text)
{
    QMessageBox::warning(parent, QStringLiteral("KLRemote"), text);
}

bool StartReplayProcess(const QString &path)
{
    return QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                   {Text(kReplayOption), path});
}

bool IsJpegName(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg");
}

} // namespace

CCaptureFeature::CCaptureFeature(CRemoteDlg &panel, int family, Prompts prompts)
    : m_panel(panel), m_family(family), m_prompts(std::move(prompts)),
      m_pictures(DefaultFolder(QStandardPaths::PicturesLocation)),
      m_videos(DefaultFolder(QStandardPaths::MoviesLocation)),
      m_now([] { return QDateTime::currentDateTime(); })
{
    if (!m_prompts.saveAs)
        m_prompts.saveAs = AskSaveAs;
    if (!m_prompts.openRecording)
        m_prompts.openRecording = AskRecording;
    if (!m_prompts.warn)
        m_prompts.warn = Warn;
    if (!m_prompts.replay)
        m_prompts.replay = StartReplayProcess;

    CRemoteSession &session = panel.Session();
    connect(&session, &CRemoteSession::screenReady, this, &CCaptureFeature::OnFrame);
    connect(&session, &CRemoteSession::stateChanged, this, &CCaptureFeature::OnState);
    connect(&session, &CRemoteSession::connected, this, [this](const QByteArray &equipInfo) {
        m_model = capture::ModelOfIdentification(equipInfo);
    });

    const std::pair<QKeyCombination, int> keys[] = {{Qt::CTRL | Qt::Key_S, ID_SAVE_SCREENSHOT},
                                                    {Qt::CTRL | Qt::Key_C, ID_COPY_SCREENSHOT},
                                                    {Qt::CTRL | Qt::Key_R, ID_RECORD}};
    for (const auto &[key, id] : keys) {
        auto *shortcut = new QShortcut(QKeySequence(key), &panel);
        const int command = id;
        connect(shortcut, &QShortcut::activated, this, [this, command] { OnCommand(command); });
    }

    m_indicatorTimer = new QTimer(this);
    m_indicatorTimer->setInterval(kIndicatorMs);
    connect(m_indicatorTimer, &QTimer::timeout, this, &CCaptureFeature::UpdateIndicator);
}

CCaptureFeature::~CCaptureFeature()
{
    // The window closes: what was recorded is kept, with a proper end; only the log hears of
    // it now.
    if (!m_recorder)
        return;
    QString error;
    if (m_recorder->Finish(&error))
        CLog::Instance().Write(Text(kRecordingSaved)
                                   .arg(QFileInfo(m_recorder->FileName()).fileName())
                                   .arg(m_recorder->Frames()));
    else
        CLog::Instance().Write(Text(kRecordingStopped).arg(error));
}

void CCaptureFeature::SetFolders(const QString &pictures, const QString &videos)
{
    m_pictures = pictures;
    m_videos = videos;
}

void CCaptureFeature::AddMenuItems(QMenu &menu, SessionState state)
{
    auto add = [&menu](const char *text, int id, bool enabled, QKeySequence key = {}) {
        QAction *action = menu.addAction(Text(text));
        action->setData(id);
        action->setObjectName(QString::number(id));
        action->setEnabled(enabled);
        if (!key.isEmpty()) {
            // Shown beside the item; the panel's own shortcut does the work.
            action->setShortcut(key);
            action->setShortcutContext(Qt::WidgetShortcut);
            action->setShortcutVisibleInContextMenu(true);
        }
        return action;
    };
    const bool picture = HasPicture();
    add(kItemSave, ID_SAVE_SCREENSHOT, picture, QKeySequence(Qt::CTRL | Qt::Key_S));
    add(kItemSaveAs, ID_SAVE_SCREENSHOT_AS, picture);
    add(kItemCopy, ID_COPY_SCREENSHOT, picture, QKeySequence(Qt::CTRL | Qt::Key_C));
    QAction *record = add(kItemRecord, ID_RECORD, IsRecording() || IsStarted(state),
                          QKeySequence(Qt::CTRL | Qt::Key_R));
    record->setCheckable(true);
    record->setChecked(IsRecording());
    add(kItemOpen, ID_OPEN_RECORDING, true);
}

bool CCaptureFeature::OnCommand(int id)
{
    switch (id) {
    case ID_SAVE_SCREENSHOT:
        SaveScreenshot();
        return true;
    case ID_SAVE_SCREENSHOT_AS:
        SaveScreenshotAs();
        return true;
    case ID_COPY_SCREENSHOT:
        CopyScreenshot();
        return true;
    case ID_RECORD:
        if (IsRecording())
            StopRecording();
        else
            StartRecording();
        return true;
    case ID_OPEN_RECORDING:
        OpenRecording();
        return true;
    default:
        return false;
    }
}

QString CCaptureFeature::BaseName() const
{
    return capture::CaptureBaseName(m_model, m_now());
}

void CCaptureFeature::Note(const QString &text)
{
    CLog::Instance().Write(text);
    if (CSessionStatusBar *bar = m_panel.StatusBar())
        bar->ShowNote(text, kNoteMs);
}

void CCaptureFeature::Fail(const QString &text, bool warn)
{
    CLog::Instance().Write(text);
    if (CSessionStatusBar *bar = m_panel.StatusBar())
        bar->ShowNote(text, kFailNoteMs);
    if (warn)
        m_prompts.warn(&m_panel, text);
}

// ------------------------------------------------------------------------------------------
// Screenshots and the clipboard

void CCaptureFeature::OnFrame(const ScreenFrame &frame)
{
    m_last = frame;
    if (m_recorder && m_recorder->IsRunning())
        m_recorder->Add(frame.jpeg, frame.arrived);
}

bool CCaptureFeature::Report(const capture::SavedFile &saved)
{
    if (!saved.ok) {
        Fail(Text(kNotSaved).arg(saved.error), false);
        return false;
    }
    m_lastSaved = saved.path;
    Note(Text(kSaved).arg(QFileInfo(saved.path).fileName()));
    return true;
}

bool CCaptureFeature::SaveScreenshot()
{
    if (!HasPicture())
        return false;
    const QImage picture = m_last.decoded;
    const capture::SavedFile saved = capture::SaveNewFile(
        m_pictures, BaseName(), QStringLiteral("png"),
        [&picture](QIODevice &device) { return capture::WritePng(device, picture); });
    return Report(saved);
}

bool CCaptureFeature::SaveScreenshotAs()
{
    if (!HasPicture())
        return false;
    // The picture as it is now, whatever arrives while the dialog is open.
    const ScreenFrame frame = m_last;
    const QString suggested =
        QDir(m_pictures).filePath(capture::CandidateName(BaseName(), 1, QStringLiteral("png")));
    QString path = m_prompts.saveAs(&m_panel, suggested);
    if (path.isEmpty())
        return false;
    const bool jpeg = IsJpegName(path);
    if (!jpeg && QFileInfo(path).suffix().toLower() != QLatin1String("png"))
        path += QStringLiteral(".png");
    const capture::SavedFile saved =
        capture::SaveReplacing(path, [&frame, jpeg](QIODevice &device) {
            return jpeg ? capture::WriteBytes(device, frame.jpeg)
                        : capture::WritePng(device, frame.decoded);
        });
    return Report(saved);
}

bool CCaptureFeature::CopyScreenshot()
{
    if (!HasPicture())
        return false;
    QGuiApplication::clipboard()->setImage(m_last.decoded);
    Note(Text(kCopied));
    return true;
}

// ------------------------------------------------------------------------------------------
// Recording

CRecordIndicator *CCaptureFeature::EnsureIndicator()
{
    CSessionStatusBar *bar = m_panel.StatusBar();
    if (!m_indicator && bar) {
        m_indicator = new CRecordIndicator(bar);
        bar->addPermanentWidget(m_indicator);
        m_indicator->hide();
    }
    return m_indicator;
}

bool CCaptureFeature::StartRecording()
{
    if (m_recorder || !IsStarted(m_panel.State()))
        return false;
    QString error;
    QString path;
    std::unique_ptr<QFile> file =
        capture::OpenNewFile(m_videos, BaseName(), QStringLiteral("mkv"), error, &path);
    if (!file) {
        Fail(Text(kRecordingNotStarted).arg(error), true);
        return false;
    }
    std::unique_ptr<QIODevice> device =
        m_wrapDevice ? m_wrapDevice(std::move(file)) : std::unique_ptr<QIODevice>(std::move(file));
    auto writer = std::make_unique<CRecordingWriter>();
    capture::RecordingInfo tags;
    tags.family = m_family;
    tags.model = m_model;
    tags.created = m_now();
    writer->Open(std::move(device), tags);
    if (m_freeSpace)
        writer->SetFreeSpaceProbe(m_freeSpace);
    m_recorder = std::make_unique<CFrameRecorder>(std::move(writer));
    const int generation = ++m_generation;
    connect(
        m_recorder.get(), &CFrameRecorder::stopped, this,
        [this, generation](const QString &reason) { OnRecorderStopped(generation, reason); },
        Qt::QueuedConnection);
    m_lastSaved = path;
    m_recordingFor.start();
    if (CRecordIndicator *indicator = EnsureIndicator()) {
        indicator->SetFigures(0, 0);
        indicator->show();
    }
    m_indicatorTimer->start();
    Note(Text(kRecordingTo).arg(QFileInfo(path).fileName()));
    return true;
}

void CCaptureFeature::StopRecording()
{
    if (!m_recorder)
        return;
    std::unique_ptr<CFrameRecorder> recorder = std::move(m_recorder);
    m_indicatorTimer->stop();
    if (m_indicator)
        m_indicator->hide();
    QString error;
    const bool ok = recorder->Finish(&error);
    const QString name = QFileInfo(recorder->FileName()).fileName();
    if (recorder->Dropped() > 0)
        CLog::Instance().Write(Text(kRecordingDropped).arg(recorder->Dropped()));
    if (!ok) {
        Fail(Text(kRecordingStopped).arg(error), true);
        return;
    }
    if (recorder->Frames() == 0) {
        m_lastSaved.clear();
        Note(Text(kRecordingEmpty));
        return;
    }
    Note(Text(kRecordingSaved).arg(name).arg(recorder->Frames()));
}

void CCaptureFeature::OnRecorderStopped(int generation, const QString &)
{
    // Only the recording that stopped; a later one is not touched.
    if (generation == m_generation && m_recorder)
        StopRecording();
}

void CCaptureFeature::OnState(SessionState state)
{
    // A recording is one run of remote control: Stop ends it.
    if (m_recorder && !IsStarted(state))
        StopRecording();
}

void CCaptureFeature::UpdateIndicator()
{
    if (m_indicator && m_recorder)
        m_indicator->SetFigures(m_recordingFor.elapsed(), m_recorder->Bytes());
}

// ------------------------------------------------------------------------------------------
// Replay

void CCaptureFeature::OpenRecording()
{
    const QString path = m_prompts.openRecording(&m_panel, m_videos);
    if (path.isEmpty())
        return;
    const QString name = QFileInfo(path).fileName();
    CRecordingReader reader;
    if (!reader.Open(path)) {
        Fail(capture::CannotReplay(name, reader.Error()), true);
        return;
    }
    if (!m_prompts.replay(path))
        Fail(Text(kReplayNotStarted).arg(name), true);
}
