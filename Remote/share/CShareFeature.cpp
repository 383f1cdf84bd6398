#include "CShareFeature.h"

#include "CLog.h"
#include "CPrefStore.h"
#include "CRemoteDlg.h"
#include "CShareDlg.h"
#include "ShareHttp.h"
#include "ShareIds.h"

#include <QMenu>

namespace {

constexpr const char *kMenuText = "Share in Browser...";

} // namespace

CShareFeature::CShareFeature(CRemoteDlg &panel, ShareProfile profile, CPrefStore *store)
    : m_panel(panel), m_profile(std::move(profile)), m_store(store)
{
    m_server.SetLogSink([](const QString &line) { CLog::Instance().Write(line); });
    m_server.SetKeyHandler([this](const std::string &text) { return TakeKey(text); });
    CRemoteSession &session = panel.Session();
    connect(&session, &CRemoteSession::screenReady, this, [this](const ScreenFrame &frame) {
        m_server.PublishPicture(frame.jpeg, frame.arrived);
    });
    connect(&session, &CRemoteSession::stateChanged, this, [this] { UpdateStatus(); });
    connect(&session, &CRemoteSession::connected, this, [this](const QByteArray &equipInfo) {
        // The model text ends at the first NUL; further fields follow it.
        m_model = QString::fromLatin1(equipInfo.left(equipInfo.indexOf('\0')));
        UpdateStatus();
    });
    connect(&m_server, &CShareServer::listeningChanged, this, &CShareFeature::sharingChanged);
    UpdateStatus();
}

CShareFeature::~CShareFeature()
{
    delete m_dialog;
}

void CShareFeature::AddMenuItems(QMenu &menu, SessionState)
{
    QAction *item = menu.addAction(QString::fromLatin1(kMenuText));
    item->setData(ids::ID_SHARE_BROWSER);
    item->setObjectName(QString::number(ids::ID_SHARE_BROWSER));
    item->setCheckable(true);
    item->setChecked(m_server.IsListening());
}

bool CShareFeature::OnCommand(int id)
{
    if (id != ids::ID_SHARE_BROWSER)
        return false;
    if (!m_dialog)
        m_dialog = new CShareDlg(*this, &m_panel);
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
    return true;
}

CShareDlg *CShareFeature::Dialog() const
{
    return m_dialog.data();
}

bool CShareFeature::Start(const QHostAddress &address, quint16 port, QString &error)
{
    UpdateStatus();
    if (!m_server.Listen(address, port)) {
        error = m_server.ErrorString();
        return false;
    }
    // A port left to the system is no choice to keep.
    if (m_store && port != 0)
        m_store->WriteShareListen(share::ListenText(address, port));
    return true;
}

void CShareFeature::Stop()
{
    m_server.Close();
}

void CShareFeature::SetControlAllowed(bool allowed)
{
    m_server.SetControlAllowed(allowed);
}

QString CShareFeature::LastListen() const
{
    return m_store ? m_store->ShareListen() : QString::fromLatin1(kDefaultShareListen);
}

void CShareFeature::UpdateStatus()
{
    const CRemoteSession &session = m_panel.Session();
    ShareStatus status;
    status.model = m_model;
    status.family = m_profile.family;
    status.state = session.State();
    status.touch = m_profile.acceptsTouch && m_profile.acceptsTouch();
    status.method = ConnMethodFromInt(session.m_nConnMethod).value_or(ConnMethod::Usb);
    if (status.method == ConnMethod::TcpIPv4)
        status.address = session.m_strIPv4;
    else if (status.method == ConnMethod::TcpIPv6)
        status.address = session.m_strIPv6;
    const QSize screen = m_panel.Profile().screenSize;
    status.screenWidth = screen.width();
    status.screenHeight = screen.height();
    status.keys = m_profile.keys;
    m_server.SetStatus(status);
}

CShareServer::KeyOutcome CShareFeature::TakeKey(const std::string &text)
{
    const SessionState state = m_panel.State();
    // While the link is lost or being opened again a key would only be dropped.
    if (state == SessionState::LinkLost || state == SessionState::Reconnecting)
        return CShareServer::KeyOutcome::NoAnswer;
    if (!IsStarted(state))
        return CShareServer::KeyOutcome::NotStarted;
    // The panel's own key path (its keys and knob reach the session the same way): its
    // logging, spacing and variant rules apply as to a click. A key it refuses, as when its
    // queue is full, is not reported as queued.
    if (!m_panel.Session().SendKeyCommand(text))
        return CShareServer::KeyOutcome::NoAnswer;
    return CShareServer::KeyOutcome::Queued;
}
