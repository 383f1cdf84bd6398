#include "CReplayPlayer.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {

// The time shown keeps moving between frames at least this often.
constexpr int kMaxTickMs = 100;

class CSteadyClock : public IReplayClock
{
public:
    CSteadyClock() { m_timer.start(); }
    qint64 NowMs() const override { return m_timer.elapsed(); }

private:
    QElapsedTimer m_timer;
};

bool IsSpeed(int speed)
{
    return speed == 1 || speed == 2 || speed == 4 || speed == 8;
}

} // namespace

CReplayPlayer::CReplayPlayer(Opener open, Shower show, const IReplayClock *clock, QObject *parent)
    : QObject(parent), m_open(std::move(open)), m_show(std::move(show)), m_clock(clock)
{
    if (!m_clock) {
        m_ownClock = std::make_unique<CSteadyClock>();
        m_clock = m_ownClock.get();
    }
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CReplayPlayer::Tick);
}

CReplayPlayer::~CReplayPlayer() = default;

qint64 CReplayPlayer::Now() const
{
    return m_clock->NowMs();
}

bool CReplayPlayer::Begin(QString &error)
{
    m_lastMs = -1;
    if (!ShowFirstFrame(error)) {
        m_reader.reset();
        return false;
    }
    m_pausedAt = 0;
    m_playing = true;
    Anchor(m_shownFrame.ms);
    Tick();
    return true;
}

bool CReplayPlayer::Restart()
{
    QString error;
    if (ShowFirstFrame(error))
        return true;
    m_endReason = error;
    emit changed();
    return false;
}

bool CReplayPlayer::ShowFirstFrame(QString &error)
{
    auto reader = m_open ? m_open(error) : nullptr;
    if (!reader)
        return false;
    m_reader = std::move(reader);
    m_info = m_reader->Info();
    m_shown = -1;
    m_damaged = false;
    m_endReason.clear();
    ReadAhead();
    if (!m_hasNext) {
        error = m_endReason;
        return false;
    }
    const RecordedFrame first = m_next;
    ReadAhead();
    Show(first);
    return true;
}

void CReplayPlayer::ReadAhead()
{
    m_hasNext = false;
    if (!m_reader)
        return;
    switch (m_reader->Next(m_next)) {
    case CRecordingReader::Step::Frame:
        m_hasNext = true;
        return;
    case CRecordingReader::Step::Damaged:
        m_damaged = true;
        m_endReason = m_reader->Error();
        break;
    case CRecordingReader::Step::End:
        break;
    }
    m_next = {};
}

void CReplayPlayer::Show(const RecordedFrame &frame)
{
    m_shown = frame.index;
    m_shownFrame = frame;
    if (!m_hasNext)
        m_lastMs = frame.ms;
    if (m_show)
        m_show(frame);
}

qint64 CReplayPlayer::PositionMs() const
{
    if (!m_playing)
        return m_pausedAt;
    const qint64 position = m_anchorMedia + (Now() - m_anchorWall) * m_speed;
    // Between frames the position moves on, but never past the next frame not yet shown.
    const qint64 limit = m_hasNext ? m_next.ms : std::max<qint64>(m_shownFrame.ms, 0);
    return std::clamp(position, m_shownFrame.ms, std::max(limit, m_shownFrame.ms));
}

qint64 CReplayPlayer::DurationMs() const
{
    if (m_lastMs >= 0)
        return m_lastMs;
    return m_info.durationMs;
}

void CReplayPlayer::Anchor(qint64 positionMs)
{
    m_anchorMedia = positionMs;
    m_anchorWall = Now();
}

void CReplayPlayer::Play()
{
    if (m_playing || !m_reader)
        return;
    if (AtEnd()) {
        if (!Restart())
            return;
        m_pausedAt = 0;
    }
    m_playing = true;
    Anchor(m_pausedAt);
    Tick();
}

void CReplayPlayer::Pause()
{
    if (!m_playing)
        return;
    m_pausedAt = PositionMs();
    m_playing = false;
    m_timer.stop();
    emit changed();
}

void CReplayPlayer::TogglePlay()
{
    if (m_playing)
        Pause();
    else
        Play();
}

void CReplayPlayer::Step()
{
    Pause();
    if (!m_hasNext)
        return;
    const RecordedFrame frame = m_next;
    ReadAhead();
    Show(frame);
    m_pausedAt = frame.ms;
    emit changed();
}

void CReplayPlayer::SetSpeed(int speed)
{
    if (!IsSpeed(speed) || speed == m_speed)
        return;
    if (m_playing)
        Anchor(PositionMs());
    m_speed = speed;
    if (m_playing)
        Tick();
    else
        emit changed();
}

void CReplayPlayer::Tick()
{
    if (!m_playing)
        return;
    const qint64 position = m_anchorMedia + (Now() - m_anchorWall) * m_speed;
    // Frames passed over at speed are not decoded: only the last one due is shown.
    bool due = false;
    RecordedFrame frame;
    while (m_hasNext && m_next.ms <= position) {
        frame = m_next;
        due = true;
        ReadAhead();
    }
    if (due)
        Show(frame);
    if (!m_hasNext) {
        m_pausedAt = m_shownFrame.ms;
        m_playing = false;
        m_timer.stop();
        emit changed();
        return;
    }
    Schedule();
    emit changed();
}

void CReplayPlayer::Schedule()
{
    const qint64 position = PositionMs();
    const qint64 wait = (m_next.ms - position + m_speed - 1) / m_speed;
    m_timer.start(int(std::clamp<qint64>(wait, 1, kMaxTickMs)));
}
