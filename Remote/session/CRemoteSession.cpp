#include "CRemoteSession.h"

#include "CImage.h"
#include "CKeySender.h"
#include "CLog.h"
#include "CPrefStore.h"
#include "Diagnostic.h"
#include "Networking.h"
#include "ReconnectSchedule.h"
#include "SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QTemporaryDir>

#include <chrono>

namespace {

constexpr const char *kLogUsbOpenFailed = "Error! Do not connect";
constexpr const char *kLogUsbTimeout = "Connect USB Timeout.";
constexpr const char *kLogUsbConnected = "USB Connected";
constexpr const char *kLogConnectionFailed = "Connection Failed";
constexpr const char *kLogDisconnect = "Disconnect";
constexpr const char *kLogSendError = "Send REQ_CMD Error";
constexpr const char *kLogConnectCanceled = "Connect canceled";
constexpr const char *kLogCreateFailed = "Couldn't create the file!";
constexpr const char *kLogSaveFailed = "FileSaveBinary fail";
constexpr const char *kLogImageFailed = "Image Load Failed";
constexpr const char *kLogUsbSendTimeout = "CMD %d SendTimeOut. SendScreen Restart.";
constexpr const char *kLogKeyRefused = "Key command refused, %d already waiting: %s";
constexpr const char *kLogKeysDropped = "Dropped %d queued key commands";
constexpr const char *kLogNotSent = "Key command not sent, the instrument does not answer: %s";
constexpr const char *kLogLinkLost = "No answer from the instrument";
constexpr const char *kLogLinkBack = "The instrument answers again";
constexpr const char *kLogReconnecting = "Reconnecting to %s";
constexpr const char *kLogReconnectFailed = "Reconnect try %d failed: %s";
constexpr const char *kLogReconnected = "Reconnected after %.1f s";
constexpr const char *kLogReconnectGivenUp = "Reconnect given up";
constexpr const char *kLogKeyWhileReconnecting = "Key command dropped while reconnecting: %s";
constexpr const char *kUsbAddress = "USB";

constexpr const char *kKnobRightShort = "KEYP:RIGH";
constexpr const char *kKnobRight = "KEYP:RIGHT";
constexpr const char *kQualityTexts[3] = {"KEYP:QUAL:HIGH", "KEYP:QUAL:NORM", "KEYP:QUAL:LOW"};

constexpr int kCloseWaitPollMs = 200;
// Tear-down waits for a running USB transfer, but not forever: the link's reads are bounded.
constexpr int kCloseWaitMaxPolls = 50;
// Screens in a row that may fail before the picture counts as stale.
constexpr int kFailuresUntilLost = 3;
// After Keys: the instrument's screen has taken a key this long after it arrived, and no
// two screens are asked for closer together than the spacing.
constexpr auto kAfterKeyDelay = std::chrono::milliseconds(120);
constexpr auto kFetchSpacing = std::chrono::milliseconds(100);

QString Cstr(const char *text)
{
    return QString::fromLatin1(text);
}

ConnMethod MethodOf(int stored)
{
    return ConnMethodFromInt(stored).value_or(ConnMethod::Usb);
}

} // namespace

struct CRemoteSession::ConnectOutcome
{
    enum Kind
    {
        UsbOpenFailed,
        UsbTimeout,
        UsbNoData,
        TcpOpenFailed,
        EquipFailed,
        Success,
        Aborted
    };
    Kind kind = Aborted;
    ConnMethod method = ConnMethod::Usb;
    QByteArray equipInfo;
    QString cause;       // why the carrier did not open, in words with the address
    bool closed = false; // abandoned, and what it opened closed again
};

CRemoteSession::CRemoteSession(const PanelProfile &profile, CPrefStore &store,
                               ScreenPipeline pipeline, QObject *parent)
    : QObject(parent), m_profile(profile), m_store(store), m_pipeline(std::move(pipeline))
{
    qRegisterMetaType<SessionState>("SessionState");
}

CRemoteSession::~CRemoteSession()
{
    if (!m_initialised)
        return;
    // A running connect or reconnect is abandoned; it gives up within moments of being told.
    m_connectCancel = 1;
    CancelReconnect();
    m_link.CancelPending();
    if (m_connectThread.joinable())
        m_connectThread.join();
    EndReconnectThread();

    // A TCP transfer gives up at its next poll; a USB transfer runs to its end, which the
    // wait below allows for.
    m_bAbort = 1;
    m_keySender.reset();
    if (m_link.IsConnected() && m_nLinkMethod == int(ConnMethod::Usb)) {
        for (int n = 0; n < kCloseWaitMaxPolls && m_bScreenReady == 0; ++n)
            std::this_thread::sleep_for(std::chrono::milliseconds(kCloseWaitPollMs));
    }
    m_bStarted = 0;
    {
        std::lock_guard<std::mutex> guard(m_workerLock);
        m_workerStop = true;
    }
    m_workerWake.notify_all();
    m_link.Disconnect();
    if (m_pRefreshThread.joinable())
        m_pRefreshThread.join();
    m_link.StopUsbReader();
    m_link.CloseUsb();
    m_tempDir.reset();
    klr::SetDiagnosticSink({});
    if (m_networking)
        klr::net::StopNetworking();
}

bool CRemoteSession::Init()
{
    if (m_initialised)
        return true;
    if (!klr::net::StartNetworking()) {
        klr::net::StopNetworking();
        emit notice(Notice::WinsockFailed);
        return false;
    }
    m_networking = true;
    m_initialised = true;

    if (m_logFolder.isEmpty())
        CLog::Instance().Open();
    else
        CLog::Instance().OpenIn(m_logFolder);
    // The link's own diagnostics (device discovery, carrier trouble) join the log.
    klr::SetDiagnosticSink([](std::string_view text) {
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.remove_suffix(1);
        if (!text.empty())
            CLog::Instance().Write(text);
    });

    SetScreenReady(1);
    m_bAbort = 1;
    m_link.Init(this);
    if (m_linkSetup)
        m_linkSetup(m_link);

    const ConnectionSettings settings = m_store.Load();
    m_nConnMethod = settings.method;
    m_strIPv4 = settings.ipv4;
    m_strIPv6 = settings.ipv6;
    m_nScale = settings.scale;
    m_drawScale = settings.scale;
    m_nQuality = settings.quality;
    if (!settings.usbIds.isEmpty())
        m_link.SetUsbIds(settings.usbIds.toStdString());
    m_autoReconnect = m_store.ReadAutoReconnect();
    m_refreshMode = m_store.ReadRefresh() == 1 ? RefreshMode::AfterKeys : RefreshMode::Standard;

    m_tempDir =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/klremote-XXXXXX"));
    m_keySender = std::make_unique<CKeySender>(
        [this](const std::string &text) {
            const bool sent = m_link.SendKey(MethodOf(m_nLinkMethod.load()), text);
            if (sent)
                NoteKeySent();
            return sent;
        },
        [this](const std::string &) {
            Log(Cstr(kLogSendError));
            if (m_profile.disconnectOnSendFailure)
                QMetaObject::invokeMethod(
                    this, [this] { OnKeySendFailed(); }, Qt::QueuedConnection);
        });

    m_bStarted = 0;
    m_workerStop = false;
    m_pRefreshThread = std::thread([this] { RefreshThreadProc(); });
    return true;
}

void CRemoteSession::Log(const QString &line) const
{
    CLog::Instance().Write(line);
}

void CRemoteSession::SetScreenReady(int value)
{
    m_bScreenReady = value;
}

void CRemoteSession::SetState(SessionState state)
{
    if (m_state.load() == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

// ----------------------------------------------------------------------------------------
// Connect and disconnect

void CRemoteSession::Connect()
{
    if (!m_initialised || m_state != SessionState::Disconnected || m_cancelling)
        return;
    if (m_connectThread.joinable())
        m_connectThread.join();
    EndReconnectThread();
    m_connectCancel = 0;
    const ConnMethod method = MethodOf(m_nConnMethod);
    m_nLinkMethod = int(method);
    const QString address = method == ConnMethod::TcpIPv6 ? m_strIPv6 : m_strIPv4;
    m_linkAddress = address;
    m_lastCause.clear();
    SetState(SessionState::Connecting);
    m_connectThread = std::thread([this, method, address] { RunConnect(method, address); });
}

// Connect worker: the link's blocking steps and their log lines. What the operator sees and
// the state follow on the window thread (FinishConnect), in the same order.
void CRemoteSession::RunConnect(ConnMethod method, const QString &address)
{
    ConnectOutcome outcome;
    outcome.method = method;
    auto finish = [this, &outcome] {
        if (m_connectCancel) {
            // Abandoned: whatever the attempt opened is closed here, off the window thread
            // (a USB read under way ends first).
            m_bAbort = 1;
            m_link.Disconnect();
            if (outcome.method == ConnMethod::Usb) {
                m_link.StopUsbReader();
                m_link.SetConnected(0);
            }
            outcome.closed = true;
        }
        QMetaObject::invokeMethod(
            this, [this, outcome] { FinishConnect(outcome); }, Qt::QueuedConnection);
    };
    std::vector<std::uint8_t> reply;

    if (method == ConnMethod::Usb) {
        SetScreenReady(0);
        if (m_link.Open(method, {}, this) != 1) {
            m_link.StopUsbReader();
            Log(Cstr(kLogUsbOpenFailed));
            outcome.cause = QString::fromStdString(m_link.LastCause());
            if (!outcome.cause.isEmpty())
                Log(outcome.cause);
            outcome.kind = ConnectOutcome::UsbOpenFailed;
            return finish();
        }
        int sent = 0;
        const LinkStatus status =
            m_link.Identify(method, reply, sent, m_profile.usbWaitCount, m_usbPauseMs);
        if (m_connectCancel || status == LinkStatus::Cancelled) {
            outcome.kind = ConnectOutcome::Aborted;
            return finish();
        }
        if (status != LinkStatus::Complete) {
            // A reply that never came whole is a reply that never came.
            Log(Cstr(kLogUsbTimeout));
            outcome.kind = ConnectOutcome::UsbTimeout;
            return finish();
        }
        if (!reply.empty()) {
            m_link.SetConnected(1);
            Log(Cstr(kLogUsbConnected));
            outcome.kind = ConnectOutcome::Success;
            outcome.equipInfo =
                QByteArray(reinterpret_cast<const char *>(reply.data()), qsizetype(reply.size()));
        } else {
            m_link.StopUsbReader();
            m_link.SetConnected(0);
            outcome.kind = ConnectOutcome::UsbNoData;
        }
        return finish();
    }

    // Whatever an earlier USB attempt left behind, a TCP session starts from a clean state:
    // no reader thread, and no transfer marked as running.
    m_link.StopUsbReader();
    SetScreenReady(1);
    const QString prefix =
        method == ConnMethod::TcpIPv6 ? QStringLiteral("TCP(IPv6)") : QStringLiteral("TCP");
    const int opened = m_link.Open(method, address.toStdString(), this);
    if (m_connectCancel) {
        outcome.kind = ConnectOutcome::Aborted;
        return finish();
    }
    if (opened != 1) {
        Log(prefix + QStringLiteral(" Connection Failed"));
        // Why, in words with the address: a bad name, a refused port and a silent host
        // look alike otherwise.
        outcome.cause = QString::fromStdString(m_link.LastCause());
        if (!outcome.cause.isEmpty())
            Log(outcome.cause);
        m_link.Disconnect();
        outcome.kind = ConnectOutcome::TcpOpenFailed;
        return finish();
    }
    m_bAbort = 0;
    int sent = 0;
    const LinkStatus status = m_link.Identify(method, reply, sent);
    Log(prefix + QString::asprintf(" Request Ret : %d ", sent));
    if (m_connectCancel || status == LinkStatus::Cancelled) {
        outcome.kind = ConnectOutcome::Aborted;
        return finish();
    }
    if (status != LinkStatus::Complete) {
        Log(prefix + QStringLiteral(" EqupInfo Failed : ") +
            QString::fromStdString(m_link.ErrorText()));
        m_link.Disconnect();
        outcome.kind = ConnectOutcome::EquipFailed;
        return finish();
    }
    outcome.equipInfo =
        QByteArray(reinterpret_cast<const char *>(reply.data()), qsizetype(reply.size()));
    Log(prefix + QStringLiteral(" Connected, Load Equp"));
    outcome.kind = ConnectOutcome::Success;
    finish();
}

void CRemoteSession::FinishConnect(const ConnectOutcome &outcome)
{
    if (m_connectThread.joinable())
        m_connectThread.join();

    if (m_connectCancel) {
        // The state already says Disconnected. Abandoned after the worker had finished, what
        // it opened is closed here; nothing is being read then.
        if (!outcome.closed) {
            m_bAbort = 1;
            m_link.Disconnect();
            if (outcome.method == ConnMethod::Usb) {
                m_link.StopUsbReader();
                m_link.SetConnected(0);
            }
        }
        m_cancelling = false;
        emit cancellingChanged(false);
        return;
    }

    m_lastCause = outcome.cause;
    switch (outcome.kind) {
    case ConnectOutcome::UsbOpenFailed:
        SetState(SessionState::Disconnected);
        emit notice(Notice::FailedUsb);
        break;
    case ConnectOutcome::UsbTimeout:
        SetState(SessionState::Disconnected);
        emit notice(Notice::Timeout);
        break;
    case ConnectOutcome::UsbNoData:
        SetState(SessionState::Disconnected);
        Log(Cstr(kLogConnectionFailed));
        emit notice(Notice::FailedUsb);
        break;
    case ConnectOutcome::TcpOpenFailed:
        SetState(SessionState::Disconnected);
        emit notice(Notice::FailedTcp);
        break;
    case ConnectOutcome::EquipFailed:
        SetState(SessionState::Disconnected);
        emit notice(Notice::FailedNoAnswer);
        break;
    case ConnectOutcome::Success:
        emit notice(Notice::Connected);
        SetState(SessionState::Connected);
        emit connected(outcome.equipInfo);
        break;
    case ConnectOutcome::Aborted:
        SetState(SessionState::Disconnected);
        break;
    }
}

void CRemoteSession::CancelConnect()
{
    if (m_state != SessionState::Connecting || m_connectCancel)
        return;
    m_connectCancel = 1;
    m_link.CancelPending();
    Log(Cstr(kLogConnectCanceled));
    m_cancelling = true;
    SetState(SessionState::Disconnected);
    emit cancellingChanged(true);
}

void CRemoteSession::Disconnect()
{
    if (m_state == SessionState::Reconnecting) {
        // Giving up: the worker ends its try within moments and closes what it opened.
        CancelReconnect();
        m_link.CancelPending();
        m_bStarted = 0;
        DropQueuedKeys();
        Log(Cstr(kLogReconnectGivenUp));
        Log(Cstr(kLogDisconnect));
        m_cancelling = true;
        SetState(SessionState::Disconnected);
        emit cancellingChanged(true);
        emit notice(Notice::Disconnected);
        return;
    }
    if (m_state != SessionState::Connected)
        return;
    m_bAbort = 1;
    m_link.Disconnect();
    DropQueuedKeys();
    Log(Cstr(kLogDisconnect));
    emit notice(Notice::Disconnected);
    SetState(SessionState::Disconnected);
}

void CRemoteSession::Start()
{
    if (m_state != SessionState::Connected)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    const QString name = QString::asprintf("%04d%02d%02d_%02d%02d%02d_%03d", d.year(), d.month(),
                                           d.day(), t.hour(), t.minute(), t.second(), t.msec());
    {
        std::lock_guard<std::mutex> guard(m_csImageFile);
        m_strImagePath = ImageFolder() + QLatin1Char('/') + name + QStringLiteral(".jpg");
    }
    m_failedFetches = 0;
    {
        std::lock_guard<std::mutex> guard(m_statsLock);
        m_stats.Start(std::chrono::steady_clock::now());
    }
    m_bStarted = 1;
    SetState(SessionState::Started);
    // High is the instrument's own default and is not sent.
    if (m_profile.qualityOnStart && (m_nQuality == 1 || m_nQuality == 2))
        SendKeyCommand(kQualityTexts[m_nQuality]);
}

void CRemoteSession::Stop()
{
    // While reconnecting there is no link to stay connected on: Disconnect gives up.
    if (!IsStarted(m_state) || m_state == SessionState::Reconnecting)
        return;
    m_bStarted = 0;
    DropQueuedKeys();
    SetState(SessionState::Connected);
}

void CRemoteSession::SetConnection(int method, const QString &ipv4, const QString &ipv6)
{
    m_strIPv4 = ipv4;
    m_strIPv6 = ipv6;
    m_nConnMethod = method;
    m_store.SaveAfterDialog(method, ipv4, ipv6);
}

void CRemoteSession::SetScale(int scale)
{
    m_nScale = scale;
    m_drawScale = scale;
}

void CRemoteSession::SetConnectionForRun(int method, const QString &address)
{
    const std::optional<ConnMethod> chosen = ConnMethodFromInt(method);
    if (!chosen)
        return;
    m_nConnMethod = method;
    if (*chosen == ConnMethod::Usb)
        m_link.SetUsbIds(address.toStdString());
    else if (*chosen == ConnMethod::TcpIPv6)
        m_strIPv6 = address;
    else
        m_strIPv4 = address;
}

QString CRemoteSession::ImagePath() const
{
    std::lock_guard<std::mutex> guard(m_csImageFile);
    return m_strImagePath;
}

QString CRemoteSession::ImageFolder() const
{
    return m_tempDir && m_tempDir->isValid() ? m_tempDir->path() : QDir::tempPath();
}

// ----------------------------------------------------------------------------------------
// Key commands

bool CRemoteSession::SendKeyCommand(const std::string &command)
{
    if (!m_keySender || m_state == SessionState::Connecting)
        return false;
    std::string text =
        m_profile.longRightStep && command == kKnobRightShort ? std::string(kKnobRight) : command;
    if (m_state == SessionState::LinkLost) {
        Log(QString::asprintf(kLogNotSent, text.c_str()));
        return false;
    }
    // Never kept for later: a key meant for a screen the operator saw then would act on
    // whatever the instrument shows once it is back.
    if (m_state == SessionState::Reconnecting) {
        Log(QString::asprintf(kLogKeyWhileReconnecting, text.c_str()));
        return false;
    }
    if (!m_profile.logLineFeed)
        Log(QString::fromStdString(text));
    text += '\n';
    if (m_profile.logLineFeed)
        CLog::Instance().Write(std::string_view(text));
    if (!m_keySender->Post(text, m_profile.keySpacingMs)) {
        text.pop_back();
        Log(QString::asprintf(kLogKeyRefused, int(CKeySender::kMaxQueued), text.c_str()));
        return false;
    }
    return true;
}

void CRemoteSession::SetQuality(int quality)
{
    if (quality < 0 || quality > 2)
        return;
    SendKeyCommand(kQualityTexts[quality]);
    m_nQuality = quality;
    m_store.WriteQuality(quality);
}

bool CRemoteSession::DrainKeys(int timeoutMs)
{
    return m_keySender && m_keySender->Drain(std::chrono::milliseconds(timeoutMs));
}

void CRemoteSession::DropQueuedKeys()
{
    if (!m_keySender)
        return;
    if (const int dropped = m_keySender->Clear(); dropped > 0)
        Log(QString::asprintf(kLogKeysDropped, dropped));
}

void CRemoteSession::OnKeySendFailed()
{
    if (!IsLinkUp(m_state))
        return;
    if (m_autoReconnect && IsStarted(m_state)) {
        // The key found the link gone before the screens did.
        BeginReconnect();
        return;
    }
    m_bAbort = 1;
    m_link.Disconnect();
    DropQueuedKeys();
    // The link is gone: the whole Disconnected state, so that Connect is offered again and
    // no refresh runs against the closed link.
    m_bStarted = 0;
    SetState(SessionState::Disconnected);
}

// ----------------------------------------------------------------------------------------
// Screen refresh

void CRemoteSession::RefreshThreadProc()
{
    std::unique_lock<std::mutex> guard(m_workerLock);
    while (!m_workerStop) {
        if (m_refreshMode.load() == RefreshMode::AfterKeys)
            RefreshAfterKeys(guard);
        else
            RefreshCycleStandard(guard);
    }
}

bool CRemoteSession::MayFetch() const
{
    // While reconnecting the link is closed and being opened again: no screen is asked for.
    return m_bScreenReady == 1 && m_bStarted == 1 && m_state.load() != SessionState::Reconnecting;
}

void CRemoteSession::RefreshCycleStandard(std::unique_lock<std::mutex> &guard)
{
    using clock = std::chrono::steady_clock;
    const auto cycleStart = clock::now();
    if (const int pause = m_profile.refreshPauseMs; pause > 0) {
        if (m_workerWake.wait_for(guard, std::chrono::milliseconds(pause),
                                  [this] { return m_workerStop; }))
            return;
    }
    if (MayFetch()) {
        m_lastFetchStart = clock::now();
        guard.unlock();
        FetchScreen();
        guard.lock();
    }
    m_workerWake.wait_until(guard, cycleStart + std::chrono::milliseconds(m_refreshCycleMs),
                            [this] { return m_workerStop; });
}

// The same cycle, and besides it one screen soon after the last key of a burst has left.
// Either screen begins the cycle anew; one screen at a time, never two sooner than the
// spacing apart.
void CRemoteSession::RefreshAfterKeys(std::unique_lock<std::mutex> &guard)
{
    using clock = std::chrono::steady_clock;
    // Switched to from the plain cycle: its schedule goes on.
    auto regularDue = m_lastFetchStart + std::chrono::milliseconds(m_refreshCycleMs);
    while (!m_workerStop && m_refreshMode.load() == RefreshMode::AfterKeys) {
        auto due = regularDue;
        if (m_keyPicturePending)
            due = std::min(due, m_lastKeySent + kAfterKeyDelay);
        due = std::max(due, m_lastFetchStart + kFetchSpacing);
        if (clock::now() < due) {
            const std::uint64_t keys = m_keysSent;
            m_workerWake.wait_until(guard, due, [this, keys] {
                return m_workerStop || m_keysSent != keys ||
                       m_refreshMode.load() != RefreshMode::AfterKeys;
            });
            continue;
        }
        const auto start = clock::now();
        if (m_keyPicturePending && start >= m_lastKeySent + kAfterKeyDelay)
            m_keyPicturePending = false;
        if (MayFetch()) {
            m_lastFetchStart = start;
            guard.unlock();
            FetchScreen();
            guard.lock();
        }
        const auto cycle = std::chrono::milliseconds(m_refreshCycleMs);
        const auto pause = std::chrono::milliseconds(m_profile.refreshPauseMs);
        regularDue = std::max(start + cycle, clock::now() + pause);
    }
}

void CRemoteSession::NoteKeySent()
{
    if (m_refreshMode.load() != RefreshMode::AfterKeys)
        return;
    {
        std::lock_guard<std::mutex> guard(m_workerLock);
        m_lastKeySent = std::chrono::steady_clock::now();
        m_keyPicturePending = true;
        ++m_keysSent;
    }
    m_workerWake.notify_all();
}

void CRemoteSession::SetRefreshMode(RefreshMode mode)
{
    {
        std::lock_guard<std::mutex> guard(m_workerLock);
        m_refreshMode = mode;
        m_keyPicturePending = false;
    }
    m_workerWake.notify_all();
}

CLinkStats::Figures CRemoteSession::LinkFigures(CLinkStats::Clock::time_point now) const
{
    std::lock_guard<std::mutex> guard(m_statsLock);
    return m_stats.At(now);
}

int CRemoteSession::FetchScreen()
{
    using clock = std::chrono::steady_clock;
    if (m_bScreenReady == 0)
        return 0;
    SetScreenReady(0);
    const ConnMethod method = MethodOf(m_nLinkMethod);
    const bool usb = method == ConnMethod::Usb;
    const auto transferStart = clock::now();
    std::vector<std::uint8_t> picture;
    const LinkStatus status =
        m_link.FetchFile(method, std::string(klr::kScreenFileName), picture, &m_bAbort);
    if (status != LinkStatus::Complete && status != LinkStatus::Cancelled) {
        std::lock_guard<std::mutex> guard(m_statsLock);
        m_stats.AddFailure();
    }
    if (status == LinkStatus::NotSent) {
        Log(QString::asprintf(kLogUsbSendTimeout, int(klr::REQ_SCREEN)));
        SetScreenReady(1);
        NoteFetch(false, false);
        return 0;
    }
    if (status != LinkStatus::Complete) {
        if (status == LinkStatus::Failed) {
            const std::string error = m_link.ErrorText();
            const char *format = usb ? m_profile.usbReceiveFail : m_profile.tcpReceiveFail;
            Log(QString::asprintf(format, error.c_str()));
            // A broken reply still shows an instrument that answers; silence or a closed
            // connection does not.
            if (error == klr::STR_ERROR_TIMEOUT || m_link.PeerClosed())
                NoteFetch(false, m_link.PeerClosed());
        }
        SetScreenReady(1);
        return 0;
    }
    ScreenFrame frame;
    frame.arrived = clock::now();
    frame.arrivedAt = QDateTime::currentDateTime();
    const double seconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(frame.arrived - transferStart)
            .count() /
        1000.0;
    if (const char *format = usb ? m_profile.usbTimeFormat : m_profile.tcpTimeFormat)
        Log(QString::asprintf(format, seconds, int(picture.size())));
    {
        std::lock_guard<std::mutex> guard(m_statsLock);
        m_stats.AddPicture(
            frame.arrived,
            std::chrono::duration<double, std::milli>(frame.arrived - transferStart).count(),
            picture.size());
    }

    QString path;
    {
        std::lock_guard<std::mutex> guard(m_csImageFile);
        path = m_strImagePath;
        if (!FileSaveBinary(path, picture.data(), int(picture.size()))) {
            SetScreenReady(1);
            if (usb)
                Log(Cstr(kLogSaveFailed));
            return 0;
        }
    }
    frame.jpeg =
        QByteArray(reinterpret_cast<const char *>(picture.data()), qsizetype(picture.size()));
    // One reading of the scale: the copy on disk is told the scale the picture was shaped at,
    // whatever the window changes meanwhile.
    const int scale = m_drawScale;
    if (DecodeFrame(picture.data(), int(picture.size()), scale, frame)) {
        // The window gets the picture first; the copy on disk follows.
        frame.handedOver = clock::now();
        QMetaObject::invokeMethod(
            this, [this, frame] { OnPicture(frame); }, Qt::QueuedConnection);
        if (m_pipeline.afterShown) {
            // The window thread may have been woken onto this core: it paints first, the copy
            // is encoded after.
            std::this_thread::yield();
            m_pipeline.afterShown(frame.picture, path, scale);
        }
    }
    SetScreenReady(1);
    if (!usb && m_bAbort == 1) {
        if (m_link.IsConnected())
            m_link.Disconnect();
        return 0;
    }
    NoteFetch(true, false);
    return 1;
}

bool CRemoteSession::DecodeFrame(const std::uint8_t *bytes, int count, int scale,
                                 ScreenFrame &frame)
{
    if (m_pipeline.decodeShaped &&
        m_pipeline.decodeShaped(bytes, std::size_t(count), scale, frame.decoded, frame.picture))
        return true;
    CImage decoded;
    // Pictures far beyond the instrument's screen are refused before any decoding.
    const QSize screen = m_profile.screenSize;
    if (decoded.LoadFromData(bytes, count,
                             CImage::ScreenPixelLimit(screen.width(), screen.height())) != 0) {
        Log(Cstr(kLogImageFailed));
        return false;
    }
    frame.decoded = decoded.Image();
    frame.picture = m_pipeline.shape ? m_pipeline.shape(frame.decoded, scale) : frame.decoded;
    if (frame.picture.isNull()) {
        Log(Cstr(kLogImageFailed));
        return false;
    }
    return true;
}

bool CRemoteSession::EnterReplay()
{
    if (!m_initialised || m_state != SessionState::Disconnected || m_cancelling)
        return false;
    SetState(SessionState::Replay);
    return true;
}

bool CRemoteSession::ShowRecordedPicture(const QByteArray &jpeg, const QDateTime &arrivedAt)
{
    if (m_state != SessionState::Replay)
        return false;
    ScreenFrame frame;
    frame.arrived = std::chrono::steady_clock::now();
    frame.arrivedAt = arrivedAt;
    frame.jpeg = jpeg;
    if (!DecodeFrame(reinterpret_cast<const std::uint8_t *>(jpeg.constData()), int(jpeg.size()),
                     m_drawScale, frame))
        return false;
    OnPicture(frame);
    return true;
}

void CRemoteSession::NoteFetch(bool ok, bool closed)
{
    if (ok) {
        if (m_failedFetches.exchange(0) >= kFailuresUntilLost)
            QMetaObject::invokeMethod(
                this, [this] { OnLinkTrouble(false); }, Qt::QueuedConnection);
        return;
    }
    // A closed connection is lost at once; silence after three screens in a row. Only the
    // refresh worker counts.
    const int before = m_failedFetches.load();
    const int after = closed ? std::max(before + 1, kFailuresUntilLost) : before + 1;
    m_failedFetches = after;
    if (before < kFailuresUntilLost && after >= kFailuresUntilLost)
        QMetaObject::invokeMethod(
            this, [this] { OnLinkTrouble(true); }, Qt::QueuedConnection);
}

void CRemoteSession::OnLinkTrouble(bool lost)
{
    if (lost && m_state == SessionState::Started) {
        Log(Cstr(kLogLinkLost));
        SetState(SessionState::LinkLost);
        if (m_autoReconnect)
            BeginReconnect();
    } else if (!lost && m_state == SessionState::LinkLost) {
        Log(Cstr(kLogLinkBack));
        SetState(SessionState::Started);
    }
}

// ----------------------------------------------------------------------------------------
// Reconnect

void CRemoteSession::SetAutoReconnect(bool on)
{
    m_autoReconnect = on;
    if (on && m_state == SessionState::LinkLost)
        BeginReconnect();
}

void CRemoteSession::BeginReconnect()
{
    if (!IsStarted(m_state) || m_state == SessionState::Reconnecting)
        return;
    EndReconnectThread();
    const ConnMethod method = MethodOf(m_nLinkMethod);
    const QString address = method == ConnMethod::Usb ? Cstr(kUsbAddress) : m_linkAddress;
    // No screen is asked for, and none running goes on, until the link is back; keys
    // waiting to leave would act on a screen the operator no longer sees.
    m_bAbort = 1;
    DropQueuedKeys();
    m_reconnectCancel = false;
    m_reconnectTry = 1;
    m_reconnectSince = std::chrono::steady_clock::now();
    Log(QString::asprintf(kLogReconnecting, qPrintable(address)));
    SetState(SessionState::Reconnecting);
    emit reconnectTry(1);
    m_reconnectThread =
        std::thread([this, method, address = m_linkAddress, since = m_reconnectSince] {
            RunReconnect(method, address, since);
        });
}

void CRemoteSession::CancelReconnect()
{
    m_reconnectCancel = true;
    {
        // Taken so the worker is either before its wait (and sees the flag) or inside it.
        std::lock_guard<std::mutex> guard(m_reconnectLock);
    }
    m_reconnectWake.notify_all();
}

void CRemoteSession::EndReconnectThread()
{
    if (m_reconnectThread.joinable())
        m_reconnectThread.join();
}

void CRemoteSession::CloseLinkOf(ConnMethod method)
{
    m_bAbort = 1;
    m_link.Disconnect();
    // A replugged instrument is a new device: it is opened afresh.
    if (method == ConnMethod::Usb)
        m_link.CloseUsb();
}

bool CRemoteSession::PauseReconnect(std::chrono::steady_clock::time_point until)
{
    std::unique_lock<std::mutex> guard(m_reconnectLock);
    return !m_reconnectWake.wait_until(guard, until, [this] { return m_reconnectCancel.load(); });
}

// Reconnect worker: closes the lost link, then tries the same method and address on the
// schedule until one try gets the identification or the reconnect is given up. Nothing is
// shown to the operator but the try count and the cause.
void CRemoteSession::RunReconnect(ConnMethod method, const QString &address,
                                  std::chrono::steady_clock::time_point since)
{
    CloseLinkOf(method);
    for (int attempt = 1;; ++attempt) {
        if (!PauseReconnect(since + klr::ReconnectDueAfter(attempt)))
            break;
        QByteArray equipInfo;
        QString why;
        const bool ok = TryReconnect(method, address, equipInfo, why);
        if (m_reconnectCancel)
            break;
        if (ok) {
            QMetaObject::invokeMethod(
                this, [this, equipInfo] { FinishReconnect(true, equipInfo); },
                Qt::QueuedConnection);
            return;
        }
        Log(QString::asprintf(kLogReconnectFailed, attempt, qPrintable(why)));
        QMetaObject::invokeMethod(
            this, [this, attempt, why] { OnReconnectTry(attempt + 1, why); }, Qt::QueuedConnection);
    }
    // Given up: whatever a try opened is closed here, off the window thread.
    CloseLinkOf(method);
    QMetaObject::invokeMethod(
        this, [this] { FinishReconnect(false, {}); }, Qt::QueuedConnection);
}

bool CRemoteSession::TryReconnect(ConnMethod method, const QString &address, QByteArray &equipInfo,
                                  QString &why)
{
    std::vector<std::uint8_t> reply;
    int sent = 0;
    const auto cause = [this](const std::string &fallback) {
        const std::string words = m_link.LastCause();
        return QString::fromStdString(words.empty() ? fallback : words);
    };
    if (method == ConnMethod::Usb) {
        SetScreenReady(0);
        if (m_link.Open(method, {}, this) != 1) {
            m_link.StopUsbReader();
            why = cause(kLogUsbOpenFailed);
            return false;
        }
        const LinkStatus status =
            m_link.Identify(method, reply, sent, m_profile.usbWaitCount, m_usbPauseMs);
        if (status == LinkStatus::Complete && !reply.empty()) {
            m_link.SetConnected(1);
            equipInfo =
                QByteArray(reinterpret_cast<const char *>(reply.data()), qsizetype(reply.size()));
            return true;
        }
        m_link.CloseUsb();
        SetScreenReady(1);
        why = Cstr(status == LinkStatus::Complete ? kLogConnectionFailed : kLogUsbTimeout);
        return false;
    }
    m_link.StopUsbReader();
    SetScreenReady(1);
    if (m_link.Open(method, address.toStdString(), this) != 1) {
        why = cause(m_link.ErrorText());
        m_link.Disconnect();
        return false;
    }
    m_bAbort = 0;
    if (m_link.Identify(method, reply, sent) != LinkStatus::Complete) {
        why = QString::fromStdString(m_link.ErrorText());
        m_link.Disconnect();
        return false;
    }
    equipInfo = QByteArray(reinterpret_cast<const char *>(reply.data()), qsizetype(reply.size()));
    return true;
}

void CRemoteSession::OnReconnectTry(int attempt, const QString &cause)
{
    if (m_state != SessionState::Reconnecting || m_reconnectCancel)
        return;
    m_reconnectTry = attempt;
    m_lastCause = cause;
    emit reconnectTry(attempt);
}

void CRemoteSession::FinishReconnect(bool ok, const QByteArray &equipInfo)
{
    EndReconnectThread();
    if (m_reconnectCancel || m_state != SessionState::Reconnecting) {
        // Given up after the worker had got the link back: nothing is being read now.
        if (ok)
            CloseLinkOf(MethodOf(m_nLinkMethod));
        if (m_cancelling) {
            m_cancelling = false;
            emit cancellingChanged(false);
        }
        return;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_reconnectSince).count();
    Log(QString::asprintf(kLogReconnected, seconds));
    m_lastCause.clear();
    m_failedFetches = 0;
    SetState(SessionState::Started);
    emit connected(equipInfo);
    // An instrument that restarted sends its default quality again.
    if (m_nQuality == 1 || m_nQuality == 2)
        SendKeyCommand(kQualityTexts[m_nQuality]);
}

void CRemoteSession::OnPicture(const ScreenFrame &frame)
{
    m_lastPicture = frame.arrivedAt;
    emit screenReady(frame);
}

int CRemoteSession::FileSaveBinary(const QString &path, const std::uint8_t *bytes, int count)
{
    // A planted link at the picture's name must never redirect the write.
    if (!WriteFileNoFollow(path, bytes, count)) {
        CLog::Instance().Write(std::string_view(kLogCreateFailed));
        return 0;
    }
    return 1;
}
