#include "CRemoteDlg.h"

#include "CDlgCommNew.h"
#include "CImage.h"
#include "CKeySender.h"
#include "CLog.h"
#include "CPrefStore.h"
#include "CScreenView.h"
#include "Diagnostic.h"
#include "Resources.h"
#include "SafeFile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

#include <cstring>

namespace {

constexpr const char *kTitleFormat = "KLRemote %s";
constexpr const char *kVersion = "2.0";

constexpr const char *kPaneDisconnected = "Disconnected";
constexpr const char *kPaneConnected = "Connected";
constexpr const char *kPaneStopped = "Remote Control Stopped";
constexpr const char *kPaneStarted = "Remote Control Started";

constexpr const char *kMsgConnected = "Connected";
constexpr const char *kMsgTimeout = "Timeout";
constexpr const char *kMsgDisconnected = "Disconnected";

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

// Connection Failed dialog kinds.
constexpr int kFailTcp = 1;
constexpr int kFailUsb = 2;
constexpr int kFailNoAnswer = 3;

constexpr int kRefreshCycleMs = 500;
constexpr int kUsbWaitPauseMs = 100;
constexpr int kTearDownPollMs = 200;
// Tear-down waits for a running USB transfer, but not forever: the link's reads are bounded.
constexpr int kTearDownMaxPolls = 50;

constexpr int kStatusBarHeight = 20;
constexpr int kPane0Margin = 480; // pane 0 takes the client width less this
constexpr int kPane1Width = 120;
constexpr int kPane2Width = 150;
constexpr int kPane3Width = 190;

QString Cstr(const char *text)
{
    return QString::fromLatin1(text);
}

} // namespace

struct CRemoteDlg::ConnectOutcome
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
    int method = 0;
    std::vector<std::uint8_t> equipInfo;
};

CRemoteDlg::CRemoteDlg(CPrefStore *store, CSessionPresenter *presenter, QWidget *parent)
    : QDialog(parent), m_store(store), m_presenter(presenter ? presenter : &m_defaultPresenter)
{
    if (!m_store) {
        m_ownStore = std::make_unique<CPrefStore>();
        m_store = m_ownStore.get();
    }
    m_usbWaitPause = [this](int ms) { PauseUsbWait(ms); };
    connect(this, &CRemoteDlg::screenImageReady, this, &CRemoteDlg::ShowPicture,
            Qt::QueuedConnection);
}

CRemoteDlg::~CRemoteDlg()
{
    TearDown();
}

bool CRemoteDlg::OnInitDialog()
{
    if (m_initialised)
        return true;
    m_initialised = true;

    setWindowIcon(res::LoadIcon(res::IDR_MAINFRAME));
    resize(WindowSize());

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

    LoadPreferences();

    m_hIconConnected = res::LoadIcon(res::IDI_CONNECTED);
    m_hIconDisconnected = res::LoadIcon(res::IDI_DISCONNECTED);
    CreateStatusBar();

    m_screen = new CScreenView(res::LoadBitmap(res::IDB_SCREEN_PLACEHOLDER), this);
    m_screen->setObjectName(QString::number(ids::IDC_SCREEN));
    m_screen->setGeometry(m_rcScreen);

    const QString title = QString::asprintf(kTitleFormat, kVersion);
    setWindowTitle(title);
    Log(title);

    for (int id : {ids::IDC_CONNECT, ids::IDC_DISCONNECT, ids::IDC_START, ids::IDC_STOP}) {
        // The session commands live in the right-click menu; these hidden buttons only keep
        // the enabled states the menu does not decide.
        auto *button = new QPushButton(this);
        button->setObjectName(QString::number(id));
        button->hide();
        connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
    }
    CreatePanel();
    SetPanelKeysEnabled(false);
    ApplyDisconnectedControls();

    m_tempDir =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/klremote-XXXXXX"));
    m_keySender = std::make_unique<CKeySender>(
        [this](const std::string &text) {
            switch (m_nLinkMethod.load()) {
            case 1:
            case 3:
                return m_link.SendTextCommand(klr::kCommand, klr::REQ_CMD, text) == 1;
            case 2:
                return m_link.UsbSendTextCommand(text) == 1;
            default:
                return true;
            }
        },
        [this](const std::string &) {
            Log(Cstr(kLogSendError));
            if (DisconnectOnSendFailure())
                QMetaObject::invokeMethod(
                    this, [this] { OnKeySendFailed(); }, Qt::QueuedConnection);
        });

    m_bStarted = 0;
    m_workerStop = false;
    m_pRefreshThread = std::thread([this] { RefreshThreadProc(); });
    qApp->installEventFilter(this);
    return true;
}

void CRemoteDlg::LoadPreferences()
{
    const ConnectionSettings settings = m_store->Load();
    m_nConnMethod = settings.method;
    m_strIPv4 = settings.ipv4;
    m_strIPv6 = settings.ipv6;
    m_nScale = settings.scale;
    m_nQuality = settings.quality;
    if (!settings.usbIds.isEmpty())
        m_link.SetUsbIds(settings.usbIds.toStdString());
}

void CRemoteDlg::CreateStatusBar()
{
    m_pStatusBar = new QStatusBar(this);
    m_pStatusBar->setSizeGripEnabled(false);
    m_pStatusBar->setAutoFillBackground(true);
    QPalette palette = m_pStatusBar->palette();
    palette.setColor(QPalette::Window, Qt::white);
    m_pStatusBar->setPalette(palette);
    m_pStatusBar->setGeometry(0, height() - kStatusBarHeight, width(), kStatusBarHeight);

    const int widths[4] = {width() - kPane0Margin, kPane1Width, kPane2Width, kPane3Width};
    for (int pane = 0; pane < 4; ++pane) {
        QWidget *holder = new QWidget(m_pStatusBar);
        holder->setFixedWidth(std::max(0, widths[pane]));
        auto *layout = new QHBoxLayout(holder);
        layout->setContentsMargins(2, 0, 2, 0);
        layout->setSpacing(3);
        if (pane == 1) {
            m_paneIcon = new QLabel(holder);
            m_paneIcon->setFixedSize(16, 16);
            layout->addWidget(m_paneIcon);
        }
        m_panes[pane] = new QLabel(holder);
        layout->addWidget(m_panes[pane], 1);
        m_pStatusBar->addWidget(holder, pane == 0 ? 1 : 0);
    }
    // Shown while a connect runs in the background; Cancel abandons it.
    m_busyBox = new QWidget(m_pStatusBar);
    auto *busyLayout = new QHBoxLayout(m_busyBox);
    busyLayout->setContentsMargins(0, 0, 0, 0);
    auto *busy = new QProgressBar(m_busyBox);
    busy->setRange(0, 0);
    busy->setFixedSize(80, 14);
    m_cancelButton = new QPushButton(tr("Cancel"), m_busyBox);
    m_cancelButton->setFocusPolicy(Qt::NoFocus);
    busyLayout->addWidget(busy);
    busyLayout->addWidget(m_cancelButton);
    connect(m_cancelButton, &QPushButton::clicked, this, &CRemoteDlg::CancelConnect);
    m_pStatusBar->addPermanentWidget(m_busyBox);
    m_busyBox->hide();

    SetPane(0, QStringLiteral(" "));
    SetPane(1, Cstr(kPaneDisconnected));
    m_paneIcon->setPixmap(m_hIconDisconnected.pixmap(16, 16));
    SetPane(2, Cstr(kPaneStopped));
    SetPane(3, MethodPaneText());
}

QString CRemoteDlg::MethodPaneText() const
{
    if (m_nConnMethod == 1)
        return QStringLiteral("TCP/IP : ") + m_strIPv4;
    if (m_nConnMethod == 3)
        return QStringLiteral("IPv6 : ") + m_strIPv6;
    return QStringLiteral("USB");
}

void CRemoteDlg::SetPane(int pane, const QString &text)
{
    if (pane >= 0 && pane < 4 && m_panes[pane])
        m_panes[pane]->setText(text);
}

void CRemoteDlg::SetPaneWidth(int pane, int width)
{
    if (pane >= 0 && pane < 4 && m_panes[pane] && m_panes[pane]->parentWidget())
        m_panes[pane]->parentWidget()->setFixedWidth(std::max(0, width));
}

QString CRemoteDlg::PaneText(int pane) const
{
    return pane >= 0 && pane < 4 && m_panes[pane] ? m_panes[pane]->text() : QString();
}

bool CRemoteDlg::IsControlEnabled(int id) const
{
    const QWidget *control = findChild<QWidget *>(QString::number(id));
    return control && control->isEnabled();
}

void CRemoteDlg::Log(const QString &line) const
{
    CLog::Instance().Write(line);
}

void CRemoteDlg::SetScreenReady(int value)
{
    m_bScreenReady = value;
}

// ----------------------------------------------------------------------------------------
// Commands

bool CRemoteDlg::OnCommand(int id)
{
    switch (id) {
    case ids::IDC_CONNECT:
        OnConnect();
        return true;
    case ids::IDC_DISCONNECT:
        OnDisconnect();
        return true;
    case ids::IDC_START:
        OnStart();
        return true;
    case ids::IDC_STOP:
        OnStop();
        return true;
    case ids::ID_COMMUNICATION:
        OnCommunication();
        return true;
    case ids::ID_QUALITY_HIGH:
    case ids::ID_QUALITY_MEDIUM:
    case ids::ID_QUALITY_LOW:
        OnQuality(id - ids::ID_QUALITY_HIGH);
        return true;
    case ids::IDM_ABOUTBOX:
        m_presenter->About(this);
        return true;
    default:
        return false;
    }
}

void CRemoteDlg::ApplyDisconnectedControls()
{
    auto set = [this](int id, bool on) {
        if (QWidget *w = findChild<QWidget *>(QString::number(id)))
            w->setEnabled(on);
    };
    set(ids::IDC_CONNECT, true);
    set(ids::IDC_DISCONNECT, false);
    set(ids::IDC_START, false);
    set(ids::IDC_STOP, false);
    SetPane(1, Cstr(kPaneDisconnected));
    if (m_paneIcon)
        m_paneIcon->setPixmap(m_hIconDisconnected.pixmap(16, 16));
}

void CRemoteDlg::ApplyConnectedControls()
{
    auto set = [this](int id, bool on) {
        if (QWidget *w = findChild<QWidget *>(QString::number(id)))
            w->setEnabled(on);
    };
    set(ids::IDC_CONNECT, false);
    set(ids::IDC_DISCONNECT, true);
    set(ids::IDC_START, true);
    set(ids::IDC_STOP, false);
    SetPane(1, Cstr(kPaneConnected));
    if (m_paneIcon)
        m_paneIcon->setPixmap(m_hIconConnected.pixmap(16, 16));
}

void CRemoteDlg::OnConnect()
{
    if (m_connectRunning)
        return;
    if (m_connectThread.joinable())
        m_connectThread.join();
    m_connectCancel = 0;
    m_connectRunning = true;
    ShowConnectBusy(true);
    const int method = m_nConnMethod;
    m_nLinkMethod = method;
    const QString address = method == 3 ? m_strIPv6 : m_strIPv4;
    m_connectThread = std::thread([this, method, address] { RunConnect(method, address); });
}

void CRemoteDlg::PauseUsbWait(int ms)
{
    std::unique_lock<std::mutex> guard(m_cancelLock);
    m_cancelWake.wait_for(guard, std::chrono::milliseconds(ms),
                          [this] { return m_connectCancel.load() != 0; });
}

// Connect worker: the link's blocking steps and their log lines. What the operator sees and
// the control states follow on the window thread (FinishConnect), in the same order.
void CRemoteDlg::RunConnect(int method, const QString &address)
{
    ConnectOutcome outcome;
    outcome.method = method;
    auto finish = [this, &outcome] {
        QMetaObject::invokeMethod(
            this, [this, outcome] { FinishConnect(outcome); }, Qt::QueuedConnection);
    };

    if (method == 2) {
        SetScreenReady(0);
        if (m_link.OpenUsb(this) != 1) {
            m_link.StopUsbReader();
            Log(Cstr(kLogUsbOpenFailed));
            outcome.kind = ConnectOutcome::UsbOpenFailed;
            return finish();
        }
        m_link.UsbSendPacket(klr::REQ_EQUIP_INFO, nullptr, 0, 1);
        const int pauses = UsbWaitCount();
        for (int n = 0; n < pauses && m_bScreenReady == 0 && !m_connectCancel; ++n)
            m_usbWaitPause(kUsbWaitPauseMs);
        if (m_connectCancel) {
            outcome.kind = ConnectOutcome::Aborted;
            return finish();
        }
        if (m_bScreenReady == 0) {
            Log(Cstr(kLogUsbTimeout));
            outcome.kind = ConnectOutcome::UsbTimeout;
            return finish();
        }
        {
            auto exchange = m_link.LockExchange();
            const int length = m_link.GetReplyLength();
            if (length > 0) {
                const std::uint8_t *data = m_link.GetReplyData();
                outcome.equipInfo.assign(data, data + length);
            }
        }
        if (!outcome.equipInfo.empty()) {
            m_link.SetConnected(1);
            Log(Cstr(kLogUsbConnected));
            outcome.kind = ConnectOutcome::Success;
        } else {
            m_link.StopUsbReader();
            m_link.SetConnected(0);
            outcome.kind = ConnectOutcome::UsbNoData;
        }
        return finish();
    }

    const bool v6 = method == 3;
    const QString prefix = v6 ? QStringLiteral("TCP(IPv6)") : QStringLiteral("TCP");
    m_link.SetHostAddress(address.toStdString());
    const int opened = v6 ? m_link.ConnectTcp6() : m_link.ConnectTcp();
    if (m_connectCancel) {
        outcome.kind = ConnectOutcome::Aborted;
        return finish();
    }
    if (opened != 1) {
        Log(prefix + QStringLiteral(" Connection Failed"));
        m_link.Disconnect();
        outcome.kind = ConnectOutcome::TcpOpenFailed;
        return finish();
    }
    m_bAbort = 0;
    {
        auto exchange = m_link.LockExchange();
        const int sent = m_link.SendRequest(klr::kCommand, klr::REQ_EQUIP_INFO);
        Log(prefix + QString::asprintf(" Request Ret : %d ", sent));
        int progress = 0;
        do {
            if (m_connectCancel) {
                outcome.kind = ConnectOutcome::Aborted;
                return finish();
            }
            progress = m_link.PollReply();
        } while (progress >= 0 && progress < 100);
        if (progress < 0) {
            Log(prefix + QStringLiteral(" EqupInfo Failed : ") +
                QString::fromStdString(m_link.ErrorText()));
            m_link.Disconnect();
            outcome.kind = ConnectOutcome::EquipFailed;
            return finish();
        }
        const int length = m_link.GetReplyLength();
        if (length > 0) {
            const std::uint8_t *data = m_link.GetReplyData();
            outcome.equipInfo.assign(data, data + length);
        }
    }
    Log(prefix + QStringLiteral(" Connected, Load Equp"));
    outcome.kind = ConnectOutcome::Success;
    finish();
}

void CRemoteDlg::FinishConnect(const ConnectOutcome &outcome)
{
    if (m_connectThread.joinable())
        m_connectThread.join();
    m_connectRunning = false;
    ShowConnectBusy(false);

    if (m_connectCancel) {
        // The window already shows Disconnected; whatever the attempt opened is closed.
        m_bAbort = 1;
        m_link.Disconnect();
        if (outcome.method == 2) {
            m_link.StopUsbReader();
            m_link.SetConnected(0);
        }
        return;
    }

    switch (outcome.kind) {
    case ConnectOutcome::UsbOpenFailed:
        m_presenter->ConnectionFailed(this, kFailUsb);
        break;
    case ConnectOutcome::UsbTimeout:
        m_presenter->Message(this, Cstr(kMsgTimeout));
        break;
    case ConnectOutcome::UsbNoData:
        ApplyDisconnectedControls();
        Log(Cstr(kLogConnectionFailed));
        m_presenter->ConnectionFailed(this, kFailUsb);
        break;
    case ConnectOutcome::TcpOpenFailed:
        ApplyDisconnectedControls();
        m_presenter->ConnectionFailed(this, kFailTcp);
        break;
    case ConnectOutcome::EquipFailed:
        ApplyDisconnectedControls();
        m_presenter->ConnectionFailed(this, kFailNoAnswer);
        break;
    case ConnectOutcome::Success:
        m_presenter->Message(this, Cstr(kMsgConnected));
        ApplyConnectedControls();
        OnConnected(outcome.equipInfo);
        break;
    case ConnectOutcome::Aborted:
        break;
    }
}

void CRemoteDlg::CancelConnect()
{
    if (!m_connectRunning || m_connectCancel)
        return;
    {
        std::lock_guard<std::mutex> guard(m_cancelLock);
        m_connectCancel = 1;
    }
    m_cancelWake.notify_all();
    Log(Cstr(kLogConnectCanceled));
    ApplyDisconnectedControls();
    ShowConnectBusy(false);
}

void CRemoteDlg::ShowConnectBusy(bool busy)
{
    if (m_busyBox)
        m_busyBox->setVisible(busy);
}

void CRemoteDlg::OnConnected(const std::vector<std::uint8_t> &) {}

void CRemoteDlg::OnDisconnect()
{
    m_bAbort = 1;
    m_link.Disconnect();
    Log(Cstr(kLogDisconnect));
    m_presenter->Message(this, Cstr(kMsgDisconnected));
    ApplyDisconnectedControls();
}

void CRemoteDlg::OnStart()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    const QString name = QString::asprintf("%04d%02d%02d_%02d%02d%02d_%03d", d.year(), d.month(),
                                           d.day(), t.hour(), t.minute(), t.second(), t.msec());
    {
        std::lock_guard<std::mutex> guard(m_csImageFile);
        m_strImagePath = ImageFolder() + QLatin1Char('/') + name + QStringLiteral(".jpg");
    }
    m_bStarted = 1;
    SetPanelKeysEnabled(true);
    if (QWidget *w = findChild<QWidget *>(QString::number(ids::IDC_START)))
        w->setEnabled(false);
    if (QWidget *w = findChild<QWidget *>(QString::number(ids::IDC_STOP)))
        w->setEnabled(true);
    if (QWidget *w = findChild<QWidget *>(QString::number(ids::IDC_DISCONNECT)))
        w->setEnabled(false);
    SetPane(2, Cstr(kPaneStarted));
    OnStarted();
}

void CRemoteDlg::OnStop()
{
    m_bStarted = 0;
    SetPanelKeysEnabled(false);
    if (QWidget *w = findChild<QWidget *>(QString::number(ids::IDC_START)))
        w->setEnabled(true);
    if (QWidget *w = findChild<QWidget *>(QString::number(ids::IDC_STOP)))
        w->setEnabled(false);
    if (QWidget *w = findChild<QWidget *>(QString::number(ids::IDC_DISCONNECT)))
        w->setEnabled(true);
    SetPane(2, Cstr(kPaneStopped));
}

QString CRemoteDlg::ImagePath() const
{
    std::lock_guard<std::mutex> guard(m_csImageFile);
    return m_strImagePath;
}

QString CRemoteDlg::ImageFolder() const
{
    return m_tempDir && m_tempDir->isValid() ? m_tempDir->path() : QDir::tempPath();
}

void CRemoteDlg::OnCommunication()
{
    CDlgCommNew dialog(m_store, this);
    dialog.m_strIPv4 = m_strIPv4;
    dialog.m_strIPv6 = m_strIPv6;
    dialog.m_nConnMethod = m_nConnMethod;
    if (!m_presenter->EditCommunication(dialog))
        return;
    m_strIPv4 = dialog.m_strIPv4;
    m_strIPv6 = dialog.m_strIPv6;
    m_nConnMethod = dialog.m_nConnMethod;
    SetPane(3, MethodPaneText());
    m_store->SaveAfterDialog(m_nConnMethod, m_strIPv4, m_strIPv6);
}

void CRemoteDlg::OnQuality(int quality)
{
    static const char *const kQualityTexts[3] = {"KEYP:QUAL:HIGH", "KEYP:QUAL:NORM",
                                                 "KEYP:QUAL:LOW"};
    SendKeyCommand(kQualityTexts[quality]);
    SaveQuality(quality);
}

void CRemoteDlg::SaveQuality(int quality)
{
    m_nQuality = quality;
    m_store->WriteQuality(quality);
}

// ----------------------------------------------------------------------------------------
// Key commands

void CRemoteDlg::QueueKeyCommand(const std::string &text, int spacingMs)
{
    if (m_keySender)
        m_keySender->Post(text, spacingMs);
}

bool CRemoteDlg::KeySenderDrain(int timeoutMs)
{
    QCoreApplication::processEvents();
    const bool drained = m_keySender && m_keySender->Drain(std::chrono::milliseconds(timeoutMs));
    QCoreApplication::processEvents();
    return drained;
}

void CRemoteDlg::OnKeySendFailed()
{
    m_bAbort = 1;
    m_link.Disconnect();
    // The link is gone: leave the whole Disconnected state so that Connect is offered again
    // and no refresh runs against the closed link.
    if (m_bStarted) {
        m_bStarted = 0;
        SetPanelKeysEnabled(false);
        SetPane(2, Cstr(kPaneStopped));
    }
    ApplyDisconnectedControls();
}

// ----------------------------------------------------------------------------------------
// Screen refresh

void CRemoteDlg::RefreshThreadProc()
{
    using clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> guard(m_workerLock);
    while (!m_workerStop) {
        const auto cycleStart = clock::now();
        if (const int pause = RefreshPauseMs(); pause > 0) {
            if (m_workerWake.wait_for(guard, std::chrono::milliseconds(pause),
                                      [this] { return m_workerStop; }))
                break;
        }
        if (m_bScreenReady == 1 && m_bStarted == 1) {
            guard.unlock();
            FetchScreen();
            guard.lock();
        }
        const int cycleMs = m_nRefreshCycleMs > 0 ? m_nRefreshCycleMs.load() : kRefreshCycleMs;
        m_workerWake.wait_until(guard, cycleStart + std::chrono::milliseconds(cycleMs),
                                [this] { return m_workerStop; });
    }
}

int CRemoteDlg::FetchScreen()
{
    using clock = std::chrono::steady_clock;
    if (m_bScreenReady == 0)
        return 0;
    SetScreenReady(0);
    const bool usb = m_nLinkMethod == 2;
    const auto transferStart = clock::now();
    std::vector<std::uint8_t> picture;
    {
        auto exchange = m_link.LockExchange();
        if (usb) {
            if (m_link.UsbRequestFile(klr::REQ_SCREEN, std::string(klr::kScreenFileName)) != 1) {
                Log(QString::asprintf(kLogUsbSendTimeout, int(klr::REQ_SCREEN)));
                SetScreenReady(1);
                return 0;
            }
        } else {
            m_link.RequestFile(klr::kCommand, klr::REQ_SCREEN, std::string(klr::kScreenFileName),
                               klr::kMaxScreenSize);
        }
        for (;;) {
            if (!usb && m_bAbort == 1) {
                SetScreenReady(1);
                return 0;
            }
            const int progress = usb ? m_link.UsbReadReply() : m_link.PollReply();
            if (progress < 0) {
                Log(QString::asprintf(ReceiveFailFormat(usb), m_link.ErrorText().c_str()));
                SetScreenReady(1);
                return 0;
            }
            if (progress >= 100)
                break;
        }
        const int length = m_link.GetReplyLength();
        if (length > 0)
            picture.assign(m_link.GetReplyData(), m_link.GetReplyData() + length);
    }
    const double seconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - transferStart)
            .count() /
        1000.0;
    LogTransferTime(seconds, int(picture.size()), usb);

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
    DrawScreenImage(path);
    SetScreenReady(1);
    if (!usb && m_bAbort == 1) {
        if (m_link.IsConnected())
            m_link.Disconnect();
        return 0;
    }
    return 1;
}

void CRemoteDlg::LogTransferTime(double seconds, int, bool usb)
{
    if (!usb)
        Log(QString::asprintf("%.3f", seconds));
}

const char *CRemoteDlg::ReceiveFailFormat(bool) const
{
    return "Receive Fail : %s\n";
}

int CRemoteDlg::FileSaveBinary(const QString &path, const std::uint8_t *bytes, int count)
{
    // A planted link at the picture's name must never redirect the write.
    if (!WriteFileNoFollow(path, bytes, count)) {
        CLog::Instance().Write(std::string_view(kLogCreateFailed));
        return 0;
    }
    return 1;
}

void CRemoteDlg::DrawScreenImage(const QString &path)
{
    CImage image;
    // The pixel limit follows the screen rectangle, which the KKC panel sets to 800 x 480.
    if (image.Load(path, CImage::ScreenPixelLimit(m_rcScreen.width(), m_rcScreen.height())) != 0) {
        Log(Cstr(kLogImageFailed));
        return;
    }
    PresentScreen(image.Image());
}

void CRemoteDlg::PresentScreen(const QImage &image)
{
    emit screenImageReady(image);
}

void CRemoteDlg::ShowPicture(const QImage &image)
{
    m_picture = image;
    if (m_screen)
        m_screen->SetPicture(image);
    ++m_nPicturesShown;
    emit pictureShown();
}

// ----------------------------------------------------------------------------------------
// Window events

QMenu *CRemoteDlg::BuildContextMenu()
{
    auto *menu = new QMenu(this);
    auto add = [menu](const QString &text, int id) {
        QAction *action = menu->addAction(text);
        action->setData(id);
        action->setCheckable(true);
        action->setObjectName(QString::number(id));
        return action;
    };
    QAction *connectItem = add(QStringLiteral("Connect"), ids::IDC_CONNECT);
    QAction *disconnectItem = add(QStringLiteral("Disconnect"), ids::IDC_DISCONNECT);
    menu->addSeparator();
    QAction *startItem = add(QStringLiteral("Start"), ids::IDC_START);
    QAction *stopItem = add(QStringLiteral("Stop"), ids::IDC_STOP);
    menu->addSeparator();
    QMenu *qualityMenu = menu->addMenu(QStringLiteral("Quality"));
    QAction *quality[3];
    const char *const names[3] = {"High", "Medium", "Low"};
    for (int i = 0; i < 3; ++i) {
        quality[i] = qualityMenu->addAction(Cstr(names[i]));
        quality[i]->setData(ids::ID_QUALITY_HIGH + i);
        quality[i]->setCheckable(true);
        quality[i]->setObjectName(QString::number(ids::ID_QUALITY_HIGH + i));
    }
    menu->addSeparator();
    QAction *communication = add(QStringLiteral("Communication"), ids::ID_COMMUNICATION);
    communication->setCheckable(false);
    menu->addSeparator();
    QAction *about = add(QStringLiteral("Infomation"), ids::IDM_ABOUTBOX);
    about->setCheckable(false);

    for (QAction *q : quality)
        q->setEnabled(false);
    const bool connected = m_link.IsConnected() != 0;
    if (connected) {
        connectItem->setEnabled(false);
        connectItem->setChecked(true);
        for (QAction *q : quality)
            q->setEnabled(true);
    } else {
        disconnectItem->setChecked(true);
        disconnectItem->setEnabled(false);
        startItem->setEnabled(false);
        stopItem->setEnabled(false);
    }
    if (m_bStarted) {
        startItem->setEnabled(false);
        disconnectItem->setEnabled(false);
        startItem->setChecked(true);
    } else {
        stopItem->setChecked(true);
        if (connected)
            connectItem->setEnabled(false);
        else
            disconnectItem->setEnabled(false);
        stopItem->setEnabled(false);
    }
    if (m_nQuality >= 0 && m_nQuality < 3)
        quality[m_nQuality]->setChecked(true);
    // While a connect runs in the background a second one is not offered.
    if (m_connectRunning)
        connectItem->setEnabled(false);
    return menu;
}

void CRemoteDlg::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        // A key takes its own presses; the menu belongs to the panel around the keys.
        if (qobject_cast<QAbstractButton *>(childAt(event->position().toPoint())))
            return;
        std::unique_ptr<QMenu> menu(BuildContextMenu());
        if (QAction *chosen = menu->exec(event->globalPosition().toPoint()))
            OnCommand(chosen->data().toInt());
        return;
    }
    if (event->button() == Qt::LeftButton)
        ForwardScreenClick(event->position().toPoint());
    QDialog::mousePressEvent(event);
}

void CRemoteDlg::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept();
}

void CRemoteDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    PaintPanel(painter);
}

void CRemoteDlg::setVisible(bool visible)
{
    if (visible)
        OnInitDialog();
    QDialog::setVisible(visible);
}

void CRemoteDlg::reject()
{
    if (m_closing)
        QDialog::reject();
}

void CRemoteDlg::keyPressEvent(QKeyEvent *event)
{
    // Enter would press a default button and Esc would close the panel: neither may.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

bool CRemoteDlg::eventFilter(QObject *watched, QEvent *event)
{
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) &&
        watched->isWidgetType() && static_cast<QWidget *>(watched)->window() == this) {
        if (HandleKey(static_cast<QKeyEvent *>(event)))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CRemoteDlg::closeEvent(QCloseEvent *event)
{
    m_closing = true;
    TearDown();
    QDialog::closeEvent(event);
}

void CRemoteDlg::TearDown()
{
    if (m_tornDown || !m_initialised)
        return;
    m_tornDown = true;
    qApp->removeEventFilter(this);

    if (m_connectRunning) {
        {
            std::lock_guard<std::mutex> guard(m_cancelLock);
            m_connectCancel = 1;
        }
        m_cancelWake.notify_all();
    }
    if (m_connectThread.joinable())
        m_connectThread.join();
    m_connectRunning = false;

    // A TCP transfer gives up at its next poll, so a key command waiting for the link is
    // released quickly; a USB transfer runs to its end, as the wait below expects.
    m_bAbort = 1;
    if (m_keySender)
        m_keySender->Stop();

    if (m_link.IsConnected() && m_nLinkMethod == 2) {
        for (int n = 0; n < kTearDownMaxPolls && m_bScreenReady == 0; ++n)
            std::this_thread::sleep_for(std::chrono::milliseconds(kTearDownPollMs));
    }
    m_bStarted = 0;
    m_bAbort = 1;
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
}
