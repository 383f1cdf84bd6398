// What a panel's pictures can be kept as: a screenshot (PNG at the instrument's own resolution,
// or its JPEG bytes unchanged), a copy on the clipboard, a recording of every picture while
// remote control runs; and the way into a replay of a recording. Given to a panel once its
// initialisation has run; its items follow the panel's own in the right-click menu.
#pragma once

#include "CFrameRecorder.h"
#include "CRemoteSession.h"
#include "CaptureFiles.h"
#include "IPanelFeature.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class CRemoteDlg;
class CRecordIndicator;
class QFile;
class QIODevice;
class QTimer;
class QWidget;

class CCaptureFeature : public QObject, public IPanelFeature
{
    Q_OBJECT
public:
    // What the feature asks of the operator and the system; each has a default.
    struct Prompts
    {
        // The file to save the picture as, "" when cancelled; `suggested` is a full path.
        std::function<QString(QWidget *parent, const QString &suggested)> saveAs;
        // A recording to open, "" when cancelled, starting in `folder`.
        std::function<QString(QWidget *parent, const QString &folder)> openRecording;
        // A failure the operator has to see.
        std::function<void(QWidget *parent, const QString &text)> warn;
        // Plays a recording in a panel window of its own family (by default a new klremote
        // process); false when that could not be started.
        std::function<bool(const QString &path)> replay;
    };

    // `family` is the instrument family the panel serves; it goes into every recording.
    CCaptureFeature(CRemoteDlg &panel, int family, Prompts prompts = {});
    ~CCaptureFeature() override;

    void AddMenuItems(QMenu &menu, SessionState state) override;
    bool OnCommand(int id) override;

    bool SaveScreenshot();
    bool SaveScreenshotAs();
    bool CopyScreenshot();
    bool StartRecording();
    void StopRecording();
    void OpenRecording();

    // Set-up and test hooks -----------------------------------------------------------------
    // Folders used instead of the user's Pictures and Videos folders.
    void SetFolders(const QString &pictures, const QString &videos);
    // The model named in file names and recordings; every connect sets it from the
    // identification.
    void SetModel(const QString &model) { m_model = model; }
    // Local time for file names; the system clock unless set.
    void SetClock(std::function<QDateTime()> now) { m_now = std::move(now); }
    // The recording's file as opened may be wrapped (a device that fails on purpose).
    void SetRecordingDeviceWrapper(
        std::function<std::unique_ptr<QIODevice>(std::unique_ptr<QFile>)> wrap)
    {
        m_wrapDevice = std::move(wrap);
    }
    void SetFreeSpaceProbe(std::function<qint64()> probe) { m_freeSpace = std::move(probe); }

    bool HasPicture() const { return !m_last.decoded.isNull(); }
    const ScreenFrame &LastFrame() const { return m_last; }
    bool IsRecording() const { return m_recorder != nullptr; }
    const CFrameRecorder *Recorder() const { return m_recorder.get(); }
    QString Model() const { return m_model; }
    // The screenshot or recording written last.
    QString LastSaved() const { return m_lastSaved; }
    CRecordIndicator *Indicator() const { return m_indicator; }

private:
    void OnFrame(const ScreenFrame &frame);
    void OnState(SessionState state);
    void OnRecorderStopped(int generation, const QString &reason);
    void UpdateIndicator();
    QString BaseName() const;
    // Pane 0 and the log say how a screenshot's save went; true when it was saved.
    bool Report(const capture::SavedFile &saved);
    void Note(const QString &text);
    // Pane 0 and the log; `warn` also tells the operator in a box.
    void Fail(const QString &text, bool warn);
    CRecordIndicator *EnsureIndicator();

    CRemoteDlg &m_panel;
    int m_family;
    Prompts m_prompts;
    QString m_pictures;
    QString m_videos;
    QString m_model;
    std::function<QDateTime()> m_now;
    std::function<std::unique_ptr<QIODevice>(std::unique_ptr<QFile>)> m_wrapDevice;
    std::function<qint64()> m_freeSpace;

    ScreenFrame m_last;
    QString m_lastSaved;
    std::unique_ptr<CFrameRecorder> m_recorder;
    int m_generation = 0;
    QElapsedTimer m_recordingFor;
    CRecordIndicator *m_indicator = nullptr;
    QTimer *m_indicatorTimer = nullptr;
};
