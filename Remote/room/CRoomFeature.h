// The panel for a bench and for a room: zoom and full screen, the main keyboard's digits as
// the numeric pad, the list of PC keys, a window that stays on top, and a title that says
// which instrument the window shows and where it is reached.
#pragma once

#include "CShortcutsWindow.h"
#include "IPanelFeature.h"
#include "KeyMapRows.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class CRemoteDlg;
class QAction;
class QWidget;

class CRoomFeature : public QObject, public IPanelFeature
{
    Q_OBJECT
public:
    static constexpr int ID_ZOOM_100 = 33200;
    static constexpr int ID_ZOOM_150 = 33201;
    static constexpr int ID_ZOOM_200 = 33202;
    static constexpr int ID_ZOOM_FIT = 33203;
    static constexpr int ID_FULL_SCREEN = 33210;
    static constexpr int ID_STAY_ON_TOP = 33211;
    static constexpr int ID_DIGIT_ROW = 33220;
    static constexpr int ID_SHORTCUTS = 33221;

    // Reads its settings from the panel's store and applies them to the panel at once.
    CRoomFeature(CRemoteDlg &panel, KeyTable table);
    ~CRoomFeature() override;

    void AddMenuItems(QMenu &menu, SessionState state) override;
    bool OnCommand(int id) override;

    // The list of PC keys, while it is open.
    CShortcutsWindow *ShortcutsWindow() const { return m_shortcuts; }
    // Read from the panel's window flags, which alone keep it.
    bool StaysOnTop() const;

    // Keeps a window above others, or no longer. A window already on screen is changed in
    // place: remaking it would hide it, and hiding a dialog ends its modal run.
    static void SetStaysOnTop(QWidget &window, bool on);

private:
    void OnStateChanged(SessionState state);
    void OnConnected(const QByteArray &equipInfo);
    void ShowShortcuts();

    CRemoteDlg &m_panel;
    const KeyTable m_table;
    QPointer<QAction> m_fullScreenKey;
    QPointer<CShortcutsWindow> m_shortcuts;
    // The title before the first connect; the address of the connect under way.
    QString m_plainTitle;
    int m_method = 0;
    QString m_ipv4;
    QString m_ipv6;
};
