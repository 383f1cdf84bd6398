// A panel window playing a recording: the session is put into its Replay state (no link, no
// keys, no knob), the recorded pictures go through the panel's own picture path, and Space,
// Right and the right-click menu work the replay. Panes 2 and 3 say how it plays and where.
#pragma once

#include "CReplayPlayer.h"
#include "IPanelFeature.h"

#include <QObject>
#include <QString>

class CRemoteDlg;

class CReplayFeature : public QObject, public IPanelFeature
{
    Q_OBJECT
public:
    // The panel must have run its initialisation. `clock` replaces the steady clock (tests).
    CReplayFeature(CRemoteDlg &panel, const QString &path, const IReplayClock *clock = nullptr);

    // Enters the Replay state, opens the recording and shows its first picture. False, with
    // the operator's message ("Cannot replay <file>: <reason>"), when it cannot be played.
    bool Begin(QString &message);

    void AddMenuItems(QMenu &menu, SessionState state) override;
    bool OnCommand(int id) override;

    CReplayPlayer &Player() { return m_player; }
    const QString &Path() const { return m_path; }

    // "00:01:05.5 / 00:10:00.0"; the total is left out while unknown.
    static QString TimeText(qint64 positionMs, qint64 durationMs);

private:
    void ShowFrame(const RecordedFrame &frame);
    void ShowState();

    CRemoteDlg &m_panel;
    QString m_path;
    CReplayPlayer m_player;
    bool m_endNoted = false;
};
