// Plays a recording in time: each frame is shown when the replay position reaches its
// timestamp, at 1, 2, 4 or 8 times the recorded pace, with pause and single steps. Time comes
// from a clock that tests may replace; the player only ever reads ahead by one frame, so a
// recording of any length plays in constant memory. Window thread only.
#pragma once

#include "CRecordingReader.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

// Milliseconds from an arbitrary start, never going back.
class IReplayClock
{
public:
    virtual ~IReplayClock() = default;
    virtual qint64 NowMs() const = 0;
};

class CReplayPlayer : public QObject
{
    Q_OBJECT
public:
    // Opens the recording afresh (for the start and for every replay from the top); null,
    // with the reason, when it cannot be played.
    using Opener = std::function<std::unique_ptr<CRecordingReader>(QString &error)>;
    // Shows one frame.
    using Shower = std::function<void(const RecordedFrame &frame)>;

    // The steady clock unless `clock` is given (it must outlive the player).
    CReplayPlayer(Opener open, Shower show, const IReplayClock *clock = nullptr,
                  QObject *parent = nullptr);
    ~CReplayPlayer() override;

    // Opens the recording, shows its first frame and starts playing. False, with the reason,
    // when it cannot be played.
    bool Begin(QString &error);

    void Play();
    void Pause();
    void TogglePlay();
    // Shows the next frame and pauses there.
    void Step();
    // 1, 2, 4 or 8; other values are ignored.
    void SetSpeed(int speed);
    // Shows what is due by now and plans the next look (the timer calls it; tests may too).
    void Tick();

    bool IsPlaying() const { return m_playing; }
    bool AtEnd() const { return !m_hasNext && m_shown >= 0; }
    bool EndedDamaged() const { return m_damaged; }
    int Speed() const { return m_speed; }
    // Where the replay stands, in recorded milliseconds after the first frame.
    qint64 PositionMs() const;
    // The recording's length: as the file says, or once the end has been reached; -1 while
    // unknown.
    qint64 DurationMs() const;
    // Frames shown so far count from 0; -1 before the first.
    int ShownIndex() const { return m_shown; }
    const capture::RecordingInfo &Info() const { return m_info; }
    // Why the frames ended early (EndedDamaged), or the reader's count of frames left out.
    QString EndReason() const { return m_endReason; }
    int SkippedFrames() const { return m_reader ? m_reader->Skipped() : 0; }

signals:
    // Position, playing state, speed or end changed.
    void changed();

private:
    qint64 Now() const;
    void ReadAhead();
    void Show(const RecordedFrame &frame);
    void Anchor(qint64 positionMs);
    void Schedule();
    // Opens the recording afresh and shows its first frame; false, with the reason, when it
    // cannot be opened or holds no frame. The reader in use stays until a new one is open.
    bool ShowFirstFrame(QString &error);
    bool Restart();

    Opener m_open;
    Shower m_show;
    const IReplayClock *m_clock;
    std::unique_ptr<IReplayClock> m_ownClock;
    std::unique_ptr<CRecordingReader> m_reader;
    capture::RecordingInfo m_info;
    QTimer m_timer;

    bool m_playing = false;
    int m_speed = 1;
    qint64 m_anchorMedia = 0; // position at m_anchorWall
    qint64 m_anchorWall = 0;
    qint64 m_pausedAt = 0;

    bool m_hasNext = false;
    RecordedFrame m_next;
    int m_shown = -1;
    RecordedFrame m_shownFrame;
    qint64 m_lastMs = -1; // the last frame's time, once the end is known
    bool m_damaged = false;
    QString m_endReason;
};
