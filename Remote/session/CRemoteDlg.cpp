#include "CRemoteDlg.h"

#include "CDlgCommNew.h"
#include "CKnobButton.h"
#include "CLog.h"
#include "CPrefStore.h"
#include "CQxButton.h"
#include "CScreenView.h"
#include "CSessionStatusBar.h"
#include "Resources.h"
#include "SessionMenu.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>

namespace {

constexpr const char *kTitleFormat = "KLRemote %s";
constexpr const char *kVersion = "2.0";

constexpr const char *kPaneDisconnected = "Disconnected";
constexpr const char *kPaneConnected = "Connected";
constexpr const char *kPaneLinkLost = "No Answer";
constexpr const char *kPaneStopped = "Remote Control Stopped";
constexpr const char *kPaneStarted = "Remote Control Started";
constexpr const char *kPaneCancelling = "Cancelling...";
constexpr const char *kPaneReconnecting = "Reconnecting (%d)";
constexpr const char *kPaneReplay = "Replay";
constexpr const char *kStaleFormat = "No answer from the instrument since %s";

constexpr int kPane0Margin = 480; // pane 0 takes the client width less this

QString Cstr(const char *text)
{
    return QString::fromLatin1(text);
}

} // namespace

CRemoteDlg::CRemoteDlg(const PanelProfile &profile, ScreenPipeline pipeline, CPrefStore *store,
                       CSessionPresenter *presenter, QWidget *parent)
    : QDialog(parent), m_profile(profile),
      m_ownStore(store ? nullptr : std::make_unique<CPrefStore>()),
      m_store(store ? store : m_ownStore.get()),
      m_presenter(presenter ? presenter : &m_defaultPresenter), m_nPane0Margin(kPane0Margin),
      m_zoomer(*this, CSessionStatusBar::kHeight), m_session(profile, *m_store, std::move(pipeline))
{
    connect(&m_session, &CRemoteSession::stateChanged, this, &CRemoteDlg::ShowCause);
    connect(&m_session, &CRemoteSession::stateChanged, this, &CRemoteDlg::ApplyState);
    connect(&m_session, &CRemoteSession::notice, this, [this](CRemoteSession::Notice n) {
        // The dialog keeps its texts; the words for why stay beside it in the status bar.
        if (n == CRemoteSession::Notice::FailedTcp || n == CRemoteSession::Notice::FailedUsb)
            ShowCause(m_session.State());
        m_presenter->Notify(this, n);
    });
    connect(&m_session, &CRemoteSession::reconnectTry, this, [this] {
        ShowCause(m_session.State());
        ApplyState(m_session.State());
    });
    connect(&m_session, &CRemoteSession::connected, this, &CRemoteDlg::OnConnected);
    connect(&m_session, &CRemoteSession::screenReady, this,
            [this](const ScreenFrame &frame) { ShowPicture(frame.picture); });
    connect(&m_session, &CRemoteSession::cancellingChanged, this, [this](bool cancelling) {
        SetPane(0, cancelling ? Cstr(kPaneCancelling) : QStringLiteral(" "));
        ApplyState(m_session.State());
    });
}

CRemoteDlg::~CRemoteDlg()
{
    qApp->removeEventFilter(this);
}

bool CRemoteDlg::OnInitDialog()
{
    if (m_initialised)
        return true;
    m_initialised = true;

    setWindowIcon(res::LoadIcon(res::IDR_MAINFRAME));
    m_zoomer.SetPanelSize(m_profile.clientSize - QSize(0, CSessionStatusBar::kHeight), false);
    if (!m_session.Init())
        return false;

    m_hIconConnected = res::LoadIcon(res::IDI_CONNECTED);
    m_hIconDisconnected = res::LoadIcon(res::IDI_DISCONNECTED);
    m_rcScreen = m_profile.screen;
    m_pStatusBar = new CSessionStatusBar(this, m_nPane0Margin);
    connect(m_pStatusBar, &CSessionStatusBar::cancelRequested, this, &CRemoteDlg::CancelConnect);
    SetPane(0, QStringLiteral(" "));
    SetPane(3, MethodPaneText());

    m_screen = new CScreenView(
        m_profile.placeholderArt ? res::LoadBitmap(m_profile.placeholderArt) : QImage(), this);
    m_screen->setObjectName(QString::number(ids::IDC_SCREEN));
    m_screen->setGeometry(m_rcScreen);

    const QString title = QString::asprintf(kTitleFormat, kVersion);
    setWindowTitle(title);
    CLog::Instance().Write(title);

    for (int id : {ids::IDC_CONNECT, ids::IDC_DISCONNECT, ids::IDC_START, ids::IDC_STOP}) {
        // The session commands live in the right-click menu; these hidden buttons only show
        // the state the way the panel's own controls do.
        auto *button = new QPushButton(this);
        button->setObjectName(QString::number(id));
        button->hide();
        connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
    }
    CreatePanel();
    ApplyZoom();
    ApplyState(m_session.State());
    qApp->installEventFilter(this);
    return true;
}

QString CRemoteDlg::MethodPaneText() const
{
    if (m_session.m_nConnMethod == 1)
        return QStringLiteral("TCP/IP : ") + m_session.m_strIPv4;
    if (m_session.m_nConnMethod == 3)
        return QStringLiteral("IPv6 : ") + m_session.m_strIPv6;
    return QStringLiteral("USB");
}

void CRemoteDlg::SetPane(int pane, const QString &text)
{
    if (m_pStatusBar)
        m_pStatusBar->SetPane(pane, text);
}

void CRemoteDlg::SetPaneWidth(int pane, int width)
{
    if (m_pStatusBar)
        m_pStatusBar->SetPaneWidth(pane, width);
}

QString CRemoteDlg::PaneText(int pane) const
{
    return m_pStatusBar ? m_pStatusBar->PaneText(pane) : QString();
}

CQxButton *CRemoteDlg::Key(int id) const
{
    const auto it = m_keys.find(id);
    return it == m_keys.end() ? nullptr : it->second;
}

bool CRemoteDlg::IsControlEnabled(int id) const
{
    const QWidget *control = findChild<QWidget *>(QString::number(id));
    return control && control->isEnabled();
}

void CRemoteDlg::ShowCause(SessionState state)
{
    if (m_session.IsCancelling())
        return;
    const QString cause = m_session.LastCause();
    switch (state) {
    case SessionState::Disconnected:
    case SessionState::Reconnecting:
        SetPane(0, cause.isEmpty() ? QStringLiteral(" ") : cause);
        break;
    case SessionState::Connecting:
    case SessionState::Connected:
    case SessionState::Started:
        SetPane(0, QStringLiteral(" "));
        break;
    case SessionState::LinkLost:
    case SessionState::Replay:
        break;
    }
}

void CRemoteDlg::SetConnectionForRun(int method, const QString &address)
{
    m_session.SetConnectionForRun(method, address);
    SetPane(3, MethodPaneText());
}

void CRemoteDlg::SetScreenOverlay(const QString &text)
{
    if (m_screen)
        m_screen->SetOverlay(text);
}

QString CRemoteDlg::ScreenOverlay() const
{
    return m_screen ? m_screen->Overlay() : QString();
}

void CRemoteDlg::ApplyState(SessionState state)
{
    const bool up = IsLinkUp(state);
    const bool started = IsStarted(state);
    auto set = [this](int id, bool on) {
        if (QWidget *w = findChild<QWidget *>(QString::number(id)))
            w->setEnabled(on);
    };
    // The buttons are grayed as the menu's items are, from the one derivation.
    const SessionMenuStates items = MenuStatesFor(state, m_session.IsCancelling());
    set(ids::IDC_CONNECT, items.connect.enabled);
    set(ids::IDC_DISCONNECT, items.disconnect.enabled);
    set(ids::IDC_START, items.start.enabled);
    set(ids::IDC_STOP, items.stop.enabled);
    for (auto &entry : m_keys)
        entry.second->setEnabled(started);
    if (m_knob)
        m_knob->setEnabled(started);
    if (!started)
        m_pcKeys.Clear();

    const bool lost = state == SessionState::LinkLost;
    const bool reconnecting = state == SessionState::Reconnecting;
    if (state == SessionState::Replay) {
        // Panes 2 and 3 are the replay's own (how it plays, where it is).
        SetPane(1, Cstr(kPaneReplay));
    } else {
        SetPane(1, reconnecting ? QString::asprintf(kPaneReconnecting, m_session.ReconnectTry())
                                : Cstr(lost ? kPaneLinkLost
                                       : up ? kPaneConnected
                                            : kPaneDisconnected));
        SetPane(2, Cstr(started ? kPaneStarted : kPaneStopped));
    }
    if (m_pStatusBar) {
        m_pStatusBar->SetLinkIcon(up && !lost ? m_hIconConnected : m_hIconDisconnected);
        m_pStatusBar->ShowBusy(state == SessionState::Connecting);
    }
    if (m_screen) {
        const QDateTime last = m_session.LastPictureTime();
        m_screen->SetStale(
            lost || reconnecting
                ? QString::asprintf(kStaleFormat,
                                    qPrintable(last.isValid() ? last.toString("HH:mm:ss")
                                                              : QStringLiteral("the start")))
                : QString());
    }
}

// ----------------------------------------------------------------------------------------
// Commands

void CRemoteDlg::SendKeyCommand(const std::string &text)
{
    m_session.SendKeyCommand(text);
}

bool CRemoteDlg::OnCommand(int id)
{
    switch (id) {
    case ids::IDC_CONNECT:
        m_session.Connect();
        return true;
    case ids::IDC_DISCONNECT:
        m_session.Disconnect();
        return true;
    case ids::IDC_START:
        m_session.Start();
        return true;
    case ids::IDC_STOP:
        m_session.Stop();
        return true;
    case ids::ID_COMMUNICATION:
        OnCommunication();
        return true;
    case ids::ID_QUALITY_HIGH:
    case ids::ID_QUALITY_MEDIUM:
    case ids::ID_QUALITY_LOW:
        if (IsLinkUp(State()))
            m_session.SetQuality(id - ids::ID_QUALITY_HIGH);
        return true;
    case ids::IDM_ABOUTBOX:
        m_presenter->About(this);
        return true;
    default:
        for (const auto &feature : m_features)
            if (feature->OnCommand(id))
                return true;
        return false;
    }
}

void CRemoteDlg::AddFeature(std::unique_ptr<IPanelFeature> feature)
{
    if (feature)
        m_features.push_back(std::move(feature));
}

void CRemoteDlg::OnCommunication()
{
    CDlgCommNew dialog(m_store, this);
    dialog.m_strIPv4 = m_session.m_strIPv4;
    dialog.m_strIPv6 = m_session.m_strIPv6;
    dialog.m_nConnMethod = m_session.m_nConnMethod;
    if (!m_presenter->EditCommunication(dialog))
        return;
    m_session.m_strIPv4 = dialog.m_strIPv4;
    m_session.m_strIPv6 = dialog.m_strIPv6;
    m_session.m_nConnMethod = dialog.m_nConnMethod;
    SetPane(3, MethodPaneText());
    m_session.SetConnection(dialog.m_nConnMethod, dialog.m_strIPv4, dialog.m_strIPv6);
}

bool CRemoteDlg::KeySenderDrain(int timeoutMs)
{
    QCoreApplication::processEvents();
    const bool drained = m_session.DrainKeys(timeoutMs);
    QCoreApplication::processEvents();
    return drained;
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
    auto add = [menu](const QString &text, int id, bool checkable = true) {
        QAction *action = menu->addAction(text);
        action->setData(id);
        action->setCheckable(checkable);
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
    add(QStringLiteral("Communication"), ids::ID_COMMUNICATION, false);
    menu->addSeparator();
    add(QStringLiteral("Infomation"), ids::IDM_ABOUTBOX, false);

    const SessionState state = State();
    const SessionMenuStates states = MenuStatesFor(state, m_session.IsCancelling());
    const std::pair<QAction *, MenuItemState> items[] = {{connectItem, states.connect},
                                                         {disconnectItem, states.disconnect},
                                                         {startItem, states.start},
                                                         {stopItem, states.stop}};
    for (const auto &[item, itemState] : items) {
        item->setEnabled(itemState.enabled);
        item->setChecked(itemState.checked);
    }
    for (QAction *q : quality)
        q->setEnabled(states.qualityEnabled);
    const int q = m_session.m_nQuality;
    if (q >= 0 && q < 3)
        quality[q]->setChecked(true);
    for (const auto &feature : m_features) {
        menu->addSeparator();
        feature->AddMenuItems(*menu, state);
    }
    return menu;
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

void CRemoteDlg::closeEvent(QCloseEvent *event)
{
    m_closing = true;
    QDialog::closeEvent(event);
}
