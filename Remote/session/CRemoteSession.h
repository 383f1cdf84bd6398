// One remote session with an instrument, without any window: the link, the connect worker,
// the screen refresh worker and the ordered key sender, with the session flags and one state.
// It reports by signals and never calls into a widget; its destructor ends every worker it
// started, so whoever owns it needs no tear-down of their own.
#pragma once

#include "CDevComm.h"
#include "CLinkStats.h"
#include "PanelProfile.h"
#include "SessionState.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CKeySender;
class CPrefStore;
class QTemporaryDir;

// What the refresh worker makes of a decoded screen; differs per panel.
struct ScreenPipeline
{
    // The picture as the panel shows it at display scale `scale`.
    std::function<QImage(const QImage &decoded, int scale)> shape;
    // Decode and shape in one step, faster where it applies; false leaves both to the decode
    // and `shape`. May be empty.
    std::function<bool(const std::uint8_t *jpeg, std::size_t size, int scale, QImage &decoded,
                       QImage &shown)>
        decodeShaped;
    // After the picture has been handed to the window (the scaled copy file); may be empty.
    std::function<void(const QImage &shown, const QString &imagePath, int scale)> afterShown;
};

// One received screen as the window gets it.
struct ScreenFrame
{
    QImage picture;  // as the panel shows it (scaled to the display scale)
    QImage decoded;  // the instrument's own picture, before any display scaling
    QByteArray jpeg; // the instrument's own bytes
    std::chrono::steady_clock::time_point arrived;    // when the reply was complete
    QDateTime arrivedAt;                              // the same, local time
    std::chrono::steady_clock::time_point handedOver; // when the worker passed it on
};
Q_DECLARE_METATYPE(ScreenFrame)

class CRemoteSession : public QObject, public IDevCommOwner
{
    Q_OBJECT
public:
    // What the operator is told, in the order the workflows tell it.
    enum class Notice
    {
        Connected,      // message "Connected"
        Timeout,        // message "Timeout"
        Disconnected,   // message "Disconnected"
        FailedTcp,      // Connection Failed dialog, kind 1
        FailedUsb,      // kind 2
        FailedNoAnswer, // kind 3
        WinsockFailed,  // message "WSA 32 Load Error!"
    };

    // How the refresh worker paces its screens.
    enum class RefreshMode
    {
        Standard,  // one screen per cycle (500 ms), nothing else
        AfterKeys, // also one soon after the last key of a burst has left
    };

    CRemoteSession(const PanelProfile &profile, CPrefStore &store, ScreenPipeline pipeline,
                   QObject *parent = nullptr);
    ~CRemoteSession() override;
    CRemoteSession(const CRemoteSession &) = delete;
    CRemoteSession &operator=(const CRemoteSession &) = delete;

    // Set-up before Init -----------------------------------------------------------------
    // Log folder used instead of the one beside the executable.
    void SetLogFolder(const QString &folder) { m_logFolder = folder; }
    // Applied to the link right after Init (a port other than 66, a simulated USB device).
    void SetLinkSetup(std::function<void(CDevComm &)> setup) { m_linkSetup = std::move(setup); }
    // Length of one USB connect pause (100 ms unless told otherwise).
    void SetUsbWaitPauseMs(int ms) { m_usbPauseMs = ms < 1 ? 1 : ms; }
    // Length of one refresh cycle (500 ms unless told otherwise; soak runs shorten it).
    void SetRefreshCycleMs(int ms) { m_refreshCycleMs = ms < 1 ? 1 : ms; }

    // Networking, log, flags, link and preferences, then the refresh worker. False when the
    // networking cannot start ("WSA 32 Load Error!" is noticed); nothing else is set up then.
    bool Init();
    bool IsInitialised() const { return m_initialised; }

    // Commands (window thread) -------------------------------------------------------------
    void Connect();
    // Abandons a running connect at once; the attempt winds down on its own thread.
    void CancelConnect();
    void Disconnect();
    void Start();
    void Stop();
    // Queues one key-command text for the instrument (the line feed is added here); false
    // when it does not leave (not connected, link lost or being reopened, queue full).
    bool SendKeyCommand(const std::string &text);
    // Sends the quality text and keeps the choice.
    void SetQuality(int quality);
    // The Communication dialog's result: applies from the next Connect.
    void SetConnection(int method, const QString &ipv4, const QString &ipv6);
    // The display scale the refresh worker shapes pictures for (and keeps).
    void SetScale(int scale);
    // From the next Connect on: `method` with `address` (TCP/IP) or the USB ids "vvvv:pppp"
    // (USB), for this run only; nothing is stored. After Init.
    void SetConnectionForRun(int method, const QString &address);

    // Comforts (their settings are read from the store at Init) ----------------------------
    // A Started session whose link is lost closes it and opens it again by itself.
    void SetAutoReconnect(bool on);
    bool AutoReconnect() const { return m_autoReconnect; }
    void SetRefreshMode(RefreshMode mode);
    RefreshMode GetRefreshMode() const { return m_refreshMode.load(); }
    // While Reconnecting: the try under way or due next, from 1; otherwise 0.
    int ReconnectTry() const
    {
        return m_state.load() == SessionState::Reconnecting ? m_reconnectTry : 0;
    }
    // Why the last connect or reconnect try failed, in words with the address ("Connection
    // refused by 192.168.1.50:66"); empty when there is nothing to say.
    QString LastCause() const { return m_lastCause; }
    // The screen link's figures since Start, as of `now`.
    CLinkStats::Figures LinkFigures(CLinkStats::Clock::time_point now) const;

    // Replay: the session shows pictures from a recording instead of an instrument. Only from
    // Disconnected; no link is opened from then on. False when the state does not allow it.
    bool EnterReplay();
    // Replay: decodes and shapes a recorded picture as the refresh worker does a received one,
    // and shows it (screenReady, at once). False, with "Image Load Failed" logged, when it is
    // no picture the panel could show.
    bool ShowRecordedPicture(const QByteArray &jpeg, const QDateTime &arrivedAt);

    SessionState State() const { return m_state.load(); }
    bool IsCancelling() const { return m_cancelling; }
    CDevComm &Link() { return m_link; }
    QString ImagePath() const;
    QString ImageFolder() const;
    // Local time of the last picture shown (invalid before the first).
    QDateTime LastPictureTime() const { return m_lastPicture; }
    // Waits until every queued key command has left (tests, tools); false on time-out.
    bool DrainKeys(int timeoutMs);

    // The link's USB reader thread reports a complete reply here, from its own thread.
    void SetScreenReady(int value) override;

    // Writes the picture file without following links; 1 on success, 0 when it cannot be
    // created ("Couldn't create the file!" logged).
    static int FileSaveBinary(const QString &path, const std::uint8_t *bytes, int count);

    // Session members, as the panels know them.
    int m_nConnMethod = 2;
    QString m_strIPv4 = QStringLiteral("0.0.0.0");
    QString m_strIPv6 = QStringLiteral("0::0::0::0::0::0");
    std::atomic<int> m_bScreenReady{1};
    std::atomic<int> m_bStarted{0};
    std::atomic<int> m_bAbort{0};
    int m_nQuality = 0;
    int m_nScale = 0;

signals:
    void stateChanged(SessionState state);
    // Emitted on the window thread; a slot may show a modal box before the workflow goes on.
    void notice(CRemoteSession::Notice notice);
    // After every successful connect, once the state is Connected: the identification reply.
    void connected(const QByteArray &equipInfo);
    // A picture for the window, on the window thread.
    void screenReady(const ScreenFrame &frame);
    // An abandoned connect is winding down (true) or has ended (false).
    void cancellingChanged(bool cancelling);
    // While Reconnecting: try `attempt` is under way or due next (LastCause() says why the
    // one before failed).
    void reconnectTry(int attempt);

private:
    struct ConnectOutcome;
    void SetState(SessionState state);
    void RunConnect(ConnMethod method, const QString &address);
    void FinishConnect(const ConnectOutcome &outcome);
    void RefreshThreadProc();
    int FetchScreen();
    // After each screen: ok, or failed in a way that says the instrument no longer answers
    // (`closed`: the connection itself went).
    void NoteFetch(bool ok, bool closed);
    void OnPicture(const ScreenFrame &frame);
    // Decodes `frame.decoded` and shapes `frame.picture` at display scale `scale`; false
    // ("Image Load Failed" logged) when it cannot be shown.
    bool DecodeFrame(const std::uint8_t *bytes, int count, int scale, ScreenFrame &frame);
    void OnLinkTrouble(bool lost);
    void OnKeySendFailed();
    void DropQueuedKeys();
    // Refresh worker: one cycle as always, or the After Keys schedule until the mode changes.
    // Both expect m_workerLock held.
    void RefreshCycleStandard(std::unique_lock<std::mutex> &guard);
    void RefreshAfterKeys(std::unique_lock<std::mutex> &guard);
    bool MayFetch() const;
    // Key sender: a key has left for the instrument.
    void NoteKeySent();
    // Reconnect: from a lost link (window thread), the worker's tries, the outcome.
    void BeginReconnect();
    void RunReconnect(ConnMethod method, const QString &address,
                      std::chrono::steady_clock::time_point since);
    bool TryReconnect(ConnMethod method, const QString &address, QByteArray &equipInfo,
                      QString &why);
    // Waits until `until`; false when the reconnect was given up meanwhile.
    bool PauseReconnect(std::chrono::steady_clock::time_point until);
    void CloseLinkOf(ConnMethod method);
    void OnReconnectTry(int attempt, const QString &cause);
    void FinishReconnect(bool ok, const QByteArray &equipInfo);
    // Tells the reconnect worker to give up, waking it from its pause between tries.
    void CancelReconnect();
    void EndReconnectThread();
    void Log(const QString &line) const;

    const PanelProfile &m_profile;
    CPrefStore &m_store;
    ScreenPipeline m_pipeline;
    CDevComm m_link;
    QString m_logFolder;
    std::function<void(CDevComm &)> m_linkSetup;
    bool m_initialised = false;
    bool m_networking = false;
    // Changed on the window thread only; read anywhere.
    std::atomic<SessionState> m_state{SessionState::Disconnected};
    bool m_cancelling = false;
    QDateTime m_lastPicture;

    // Connect worker.
    std::thread m_connectThread;
    std::atomic<int> m_connectCancel{0};
    int m_usbPauseMs = 100;
    // The method of the link as opened by the last Connect; a method changed in the
    // Communication dialog applies from the next Connect on.
    std::atomic<int> m_nLinkMethod{2};
    // The address of that Connect: a reconnect goes to the same instrument.
    QString m_linkAddress;
    QString m_lastCause;

    // Reconnect worker.
    bool m_autoReconnect = true;
    std::thread m_reconnectThread;
    std::atomic<bool> m_reconnectCancel{false};
    std::mutex m_reconnectLock;
    std::condition_variable m_reconnectWake;
    // The try under way or due next; it means something only while Reconnecting.
    int m_reconnectTry = 0;
    std::chrono::steady_clock::time_point m_reconnectSince{};

    // Refresh worker.
    std::thread m_pRefreshThread;
    std::mutex m_workerLock;
    std::condition_variable m_workerWake;
    bool m_workerStop = false;
    std::atomic<int> m_refreshCycleMs{500};
    std::atomic<int> m_drawScale{0};
    std::atomic<int> m_failedFetches{0};
    std::atomic<RefreshMode> m_refreshMode{RefreshMode::Standard};
    // Under m_workerLock: when the last screen was asked for; for After Keys also when the
    // last key left, whether its screen is still due, and a count that tells a key came.
    std::chrono::steady_clock::time_point m_lastKeySent{};
    bool m_keyPicturePending = false;
    std::uint64_t m_keysSent = 0;
    std::chrono::steady_clock::time_point m_lastFetchStart{};
    mutable std::mutex m_statsLock;
    CLinkStats m_stats;
    mutable std::mutex m_csImageFile;
    QString m_strImagePath;
    std::unique_ptr<QTemporaryDir> m_tempDir;

    std::unique_ptr<CKeySender> m_keySender;
};
