#include "CRoomFeature.h"

#include "CPrefStore.h"
#include "CRemoteDlg.h"
#include "CShortcutsWindow.h"
#include "RoomTitle.h"

#include <QAction>
#include <QMenu>
#include <QWindow>

namespace {

constexpr const char *kZoomMenu = "Zoom";
constexpr const char *kFitToWindow = "Fit to Window";
constexpr const char *kFullScreen = "Full Screen\tF11";
constexpr const char *kStayOnTop = "Stay on Top";
constexpr const char *kDigitRow = "Digit Row as Keypad";
constexpr const char *kShortcuts = "Keyboard Shortcuts";

struct ZoomItem
{
    int id;
    const char *text;
    double factor;
};
constexpr ZoomItem kZoomItems[] = {
    {CRoomFeature::ID_ZOOM_100, "100 %", 1.0},
    {CRoomFeature::ID_ZOOM_150, "150 %", 1.5},
    {CRoomFeature::ID_ZOOM_200, "200 %", 2.0},
};

QAction *AddItem(QMenu &menu, const char *text, int id, bool checkable, bool checked)
{
    QAction *action = menu.addAction(QString::fromUtf8(text));
    action->setData(id);
    action->setObjectName(QString::number(id));
    action->setCheckable(checkable);
    action->setChecked(checked);
    return action;
}

} // namespace

CRoomFeature::CRoomFeature(CRemoteDlg &panel, KeyTable table) : m_panel(panel), m_table(table)
{
    CPrefStore &store = panel.Store();
    panel.SetDigitRowAsKeypad(store.ReadDigitRowAsKeypad());
    if (store.ReadStayOnTop())
        SetStaysOnTop(panel, true);

    // F11 in and out of full screen; Esc stays the instrument's key.
    m_fullScreenKey = new QAction(&panel);
    m_fullScreenKey->setShortcut(Qt::Key_F11);
    m_fullScreenKey->setShortcutContext(Qt::WindowShortcut);
    panel.addAction(m_fullScreenKey);
    connect(m_fullScreenKey, &QAction::triggered, this, [this] { OnCommand(ID_FULL_SCREEN); });

    CRemoteSession &session = panel.Session();
    connect(&session, &CRemoteSession::stateChanged, this, &CRoomFeature::OnStateChanged);
    connect(&session, &CRemoteSession::connected, this, &CRoomFeature::OnConnected);
}

CRoomFeature::~CRoomFeature()
{
    delete m_shortcuts;
    delete m_fullScreenKey;
}

void CRoomFeature::AddMenuItems(QMenu &menu, SessionState)
{
    QMenu *zoom = menu.addMenu(QString::fromLatin1(kZoomMenu));
    const double factor = m_panel.ZoomFactor();
    for (const ZoomItem &item : kZoomItems)
        AddItem(*zoom, item.text, item.id, true, factor == item.factor);
    zoom->addSeparator();
    AddItem(*zoom, kFitToWindow, ID_ZOOM_FIT, true, factor == CPanelZoomer::kFit);
    AddItem(menu, kFullScreen, ID_FULL_SCREEN, true, m_panel.IsFullScreen());
    AddItem(menu, kStayOnTop, ID_STAY_ON_TOP, true, StaysOnTop());
    menu.addSeparator();
    AddItem(menu, kDigitRow, ID_DIGIT_ROW, true, m_panel.DigitRowAsKeypad());
    AddItem(menu, kShortcuts, ID_SHORTCUTS, false, false);
}

bool CRoomFeature::OnCommand(int id)
{
    for (const ZoomItem &item : kZoomItems)
        if (id == item.id) {
            m_panel.SetZoom(item.factor);
            return true;
        }
    switch (id) {
    case ID_ZOOM_FIT:
        m_panel.SetZoom(CPanelZoomer::kFit);
        return true;
    case ID_FULL_SCREEN:
        m_panel.SetFullScreen(!m_panel.IsFullScreen());
        return true;
    case ID_STAY_ON_TOP: {
        const bool on = !StaysOnTop();
        SetStaysOnTop(m_panel, on);
        m_panel.Store().WriteStayOnTop(on);
        return true;
    }
    case ID_DIGIT_ROW: {
        const bool on = !m_panel.DigitRowAsKeypad();
        m_panel.SetDigitRowAsKeypad(on);
        m_panel.Store().WriteDigitRowAsKeypad(on);
        if (m_shortcuts)
            m_shortcuts->Refresh(on);
        return true;
    }
    case ID_SHORTCUTS:
        ShowShortcuts();
        return true;
    default:
        return false;
    }
}

void CRoomFeature::ShowShortcuts()
{
    if (!m_shortcuts)
        m_shortcuts = new CShortcutsWindow(m_table, &m_panel);
    m_shortcuts->Refresh(m_panel.DigitRowAsKeypad());
    m_shortcuts->show();
    m_shortcuts->raise();
    m_shortcuts->activateWindow();
}

bool CRoomFeature::StaysOnTop() const
{
    return m_panel.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void CRoomFeature::SetStaysOnTop(QWidget &window, bool on)
{
    Qt::WindowFlags flags = window.windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, on);
    if (flags == window.windowFlags())
        return;
    QWindow *handle = window.testAttribute(Qt::WA_WState_Created) ? window.windowHandle() : nullptr;
    if (!handle) {
        window.setWindowFlags(flags);
        return;
    }
    window.overrideWindowFlags(flags);
    handle->setFlags(flags);
}

void CRoomFeature::OnStateChanged(SessionState state)
{
    if (state == SessionState::Connecting) {
        if (m_plainTitle.isEmpty())
            m_plainTitle = m_panel.windowTitle();
        // The address of this connect, whatever the Communication dialog says meanwhile.
        const CRemoteSession &session = m_panel.Session();
        m_method = session.m_nConnMethod;
        m_ipv4 = session.m_strIPv4;
        m_ipv6 = session.m_strIPv6;
    } else if (state == SessionState::Disconnected && !m_plainTitle.isEmpty()) {
        m_panel.setWindowTitle(m_plainTitle);
    }
}

void CRoomFeature::OnConnected(const QByteArray &equipInfo)
{
    if (m_plainTitle.isEmpty())
        m_plainTitle = m_panel.windowTitle();
    m_panel.setWindowTitle(ConnectedTitle(m_plainTitle, equipInfo, m_method, m_ipv4, m_ipv6));
}
