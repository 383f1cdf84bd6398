#include "CReplayFeature.h"

#include "CLog.h"
#include "CRemoteDlg.h"
#include "CSessionStatusBar.h"
#include "CaptureIds.h"

#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QShortcut>

namespace {

using namespace capture_ids;

constexpr const char *kItemPlay = "Play";
constexpr const char *kItemStep = "Step";
constexpr const char *kItemSpeed = "Speed";
constexpr const char *kSpeedFormat = "%1x";

constexpr const char *kPlaying = "Playing %1x";
constexpr const char *kPaused = "Paused";
constexpr const char *kEnded = "End of recording";
constexpr const char *kTitle = "%1 - Replay of %2";
constexpr const char *kNoPanel = "the panel window could not be set up";
constexpr const char *kReplaying = "Replay of %1";
constexpr const char *kEndsEarly = "The recording ends early: %1";
constexpr const char *kSkipped =
    "%1 frames of the recording are not JPEG pictures and were left out";

QString Text(const char *text)
{
    return QString::fromUtf8(text);
}

QString Clock(qint64 ms)
{
    const qint64 tenths = std::max<qint64>(0, ms) / 100;
    const qint64 seconds = tenths / 10;
    return QString::asprintf("%02lld:%02lld:%02lld.%lld", seconds / 3600, seconds / 60 % 60,
                             seconds % 60, tenths % 10);
}

} // namespace

CReplayFeature::CReplayFeature(CRemoteDlg &panel, const QString &path, const IReplayClock *clock)
    : m_panel(panel), m_path(path),
      m_player(
          [path](QString &error) -> std::unique_ptr<CRecordingReader> {
              auto reader = std::make_unique<CRecordingReader>();
              if (!reader->Open(path)) {
                  error = reader->Error();
                  return nullptr;
              }
              return reader;
          },
          [this](const RecordedFrame &frame) { ShowFrame(frame); }, clock)
{
    connect(&m_player, &CReplayPlayer::changed, this, &CReplayFeature::ShowState);
    const std::pair<QKeyCombination, int> keys[] = {
        {QKeyCombination(Qt::Key_Space), ID_REPLAY_PLAY},
        {QKeyCombination(Qt::Key_Right), ID_REPLAY_STEP},
        {QKeyCombination(Qt::Key_1), ID_REPLAY_SPEED_1},
        {QKeyCombination(Qt::Key_2), ID_REPLAY_SPEED_1 + 1},
        {QKeyCombination(Qt::Key_4), ID_REPLAY_SPEED_1 + 2},
        {QKeyCombination(Qt::Key_8), ID_REPLAY_SPEED_1 + 3}};
    for (const auto &[key, id] : keys) {
        auto *shortcut = new QShortcut(QKeySequence(key), &panel);
        const int command = id;
        connect(shortcut, &QShortcut::activated, this, [this, command] { OnCommand(command); });
    }
}

QString CReplayFeature::TimeText(qint64 positionMs, qint64 durationMs)
{
    return durationMs < 0 ? Clock(positionMs)
                          : Clock(positionMs) + QStringLiteral(" / ") + Clock(durationMs);
}

bool CReplayFeature::Begin(QString &message)
{
    const QString name = QFileInfo(m_path).fileName();
    QString error;
    if (!m_panel.Session().EnterReplay() && m_panel.State() != SessionState::Replay)
        error = Text(kNoPanel);
    if (!error.isEmpty() || !m_player.Begin(error)) {
        message = capture::CannotReplay(name, error);
        CLog::Instance().Write(message);
        return false;
    }
    CLog::Instance().Write(Text(kReplaying).arg(QDir::toNativeSeparators(m_path)));
    m_panel.setWindowTitle(Text(kTitle).arg(m_panel.windowTitle(), name));
    if (CSessionStatusBar *bar = m_panel.StatusBar())
        bar->ShowNote(Text(kReplaying).arg(name), 0);
    ShowState();
    return true;
}

void CReplayFeature::ShowFrame(const RecordedFrame &frame)
{
    const QDateTime created = m_player.Info().created;
    m_panel.Session().ShowRecordedPicture(
        frame.jpeg, created.isValid() ? created.toLocalTime().addMSecs(frame.ms) : QDateTime());
}

void CReplayFeature::ShowState()
{
    CSessionStatusBar *bar = m_panel.StatusBar();
    if (!bar)
        return;
    const bool end = m_player.AtEnd() && !m_player.IsPlaying();
    bar->SetPane(2, m_player.IsPlaying() ? Text(kPlaying).arg(m_player.Speed())
                    : end                ? Text(kEnded)
                                         : Text(kPaused));
    bar->SetPane(3, TimeText(m_player.PositionMs(), m_player.DurationMs()));
    if (end && !m_endNoted) {
        m_endNoted = true;
        if (m_player.EndedDamaged()) {
            const QString text = Text(kEndsEarly).arg(m_player.EndReason());
            CLog::Instance().Write(text);
            bar->ShowNote(text, 0);
        } else if (m_player.SkippedFrames() > 0) {
            const QString text = Text(kSkipped).arg(m_player.SkippedFrames());
            CLog::Instance().Write(text);
            bar->ShowNote(text, 0);
        }
    } else if (!end) {
        m_endNoted = false;
    }
}

void CReplayFeature::AddMenuItems(QMenu &menu, SessionState state)
{
    const bool replay = state == SessionState::Replay;
    QAction *play = menu.addAction(Text(kItemPlay));
    play->setData(ID_REPLAY_PLAY);
    play->setObjectName(QString::number(ID_REPLAY_PLAY));
    play->setCheckable(true);
    play->setChecked(m_player.IsPlaying());
    play->setEnabled(replay);
    QAction *step = menu.addAction(Text(kItemStep));
    step->setData(ID_REPLAY_STEP);
    step->setObjectName(QString::number(ID_REPLAY_STEP));
    step->setEnabled(replay && !m_player.AtEnd());
    QMenu *speeds = menu.addMenu(Text(kItemSpeed));
    for (int i = 0; i < int(std::size(kReplaySpeeds)); ++i) {
        QAction *item = speeds->addAction(Text(kSpeedFormat).arg(kReplaySpeeds[i]));
        item->setData(ID_REPLAY_SPEED_1 + i);
        item->setObjectName(QString::number(ID_REPLAY_SPEED_1 + i));
        item->setCheckable(true);
        item->setChecked(m_player.Speed() == kReplaySpeeds[i]);
        item->setEnabled(replay);
    }
}

bool CReplayFeature::OnCommand(int id)
{
    if (id == ID_REPLAY_PLAY) {
        if (m_panel.State() == SessionState::Replay)
            m_player.TogglePlay();
        return true;
    }
    if (id == ID_REPLAY_STEP) {
        if (m_panel.State() == SessionState::Replay)
            m_player.Step();
        return true;
    }
    const int speed = id - ID_REPLAY_SPEED_1;
    if (speed >= 0 && speed < int(std::size(kReplaySpeeds))) {
        m_player.SetSpeed(kReplaySpeeds[speed]);
        return true;
    }
    return false;
}
