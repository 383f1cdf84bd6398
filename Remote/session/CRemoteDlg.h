// The base of both front-panel windows: a view of one remote session. It owns the session,
// shows its state in the menu, the status bar and the keys, and routes every command to it.
// A variant supplies its layout and keys; what differs as data is in its PanelProfile.
#pragma once

#include "CPanelZoomer.h"
#include "CRemoteSession.h"
#include "CSessionPresenter.h"
#include "IKeyCommandSink.h"
#include "IPanelFeature.h"
#include "PcKeyTracker.h"
#include "SessionIds.h"

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QRect>
#include <QString>

#include <map>
#include <memory>
#include <string>
#include <vector>

class CPrefStore;
class CScreenView;
class CKnobButton;
class CQxButton;
class CSessionStatusBar;
class QMenu;
class QKeyEvent;

class CRemoteDlg : public QDialog, public IKeyCommandSink
{
    Q_OBJECT
public:
    // `store` may be null: the native per-user store is then used. `presenter` may be null:
    // modal message boxes and dialogs are then shown.
    CRemoteDlg(const PanelProfile &profile, ScreenPipeline pipeline, CPrefStore *store,
               CSessionPresenter *presenter, QWidget *parent = nullptr);
    ~CRemoteDlg() override;

    void SendKeyCommand(const std::string &text) override;

    // Window start-up; runs once, at the latest when the window is first shown.
    bool OnInitDialog();
    // Routes a command by its identifier, as the session's state allows; false when nobody
    // handles it.
    virtual bool OnCommand(int id);

    // A feature beyond the panel's own; its menu items follow the panel's.
    void AddFeature(std::unique_ptr<IPanelFeature> feature);

    // From the next Connect on, this method and address (or USB ids) for this run only;
    // nothing is stored. After OnInitDialog.
    void SetConnectionForRun(int method, const QString &address);
    // Lines drawn over the screen picture in the window only (never into the picture
    // itself, so never into anything saved from it); empty hides them.
    void SetScreenOverlay(const QString &text);
    QString ScreenOverlay() const;

    CRemoteSession &Session() { return m_session; }
    const CRemoteSession &Session() const { return m_session; }
    SessionState State() const { return m_session.State(); }
    // The preference store the panel reads and writes (features keep their settings there).
    CPrefStore &Store() { return *m_store; }
    const PanelProfile &Profile() const { return m_profile; }

    // The whole panel (picture, keys, knob, live screen) zoomed: a fixed factor the window
    // takes the size for, or CPanelZoomer::kFit to scale it to the window's size.
    void SetZoom(double factor);
    double ZoomFactor() const { return m_zoomer.Factor(); }
    // The zoom as shown now; clicks map back through it.
    const PanelZoom &Zoom() const { return m_zoomer.Zoom(); }
    // Full screen shows the panel fitted to the screen; leaving it restores the zoom before.
    void SetFullScreen(bool on);
    bool IsFullScreen() const { return m_zoomer.IsFullScreen(); }
    // The main keyboard's digits and period stand for the numeric pad's.
    void SetDigitRowAsKeypad(bool on) { m_digitRowAsKeypad = on; }
    bool DigitRowAsKeypad() const { return m_digitRowAsKeypad; }

    // Test and tool hooks ---------------------------------------------------------------
    void SetLogFolder(const QString &folder) { m_session.SetLogFolder(folder); }
    void SetLinkSetup(std::function<void(CDevComm &)> setup)
    {
        m_session.SetLinkSetup(std::move(setup));
    }
    void SetRefreshCycleMs(int ms) { m_session.SetRefreshCycleMs(ms); }
    bool IsConnectRunning() const { return m_session.State() == SessionState::Connecting; }
    void CancelConnect() { m_session.CancelConnect(); }
    // The menu with its item states set for the current state; the caller owns it.
    virtual QMenu *BuildContextMenu();
    QString PaneText(int pane) const;
    bool IsControlEnabled(int id) const;
    const QImage &ScreenPicture() const { return m_picture; }
    int PicturesShown() const { return m_nPicturesShown; }
    bool KeySenderDrain(int timeoutMs);
    CDevComm &Link() { return m_session.Link(); }
    // A panel key by its control ID (nullptr for none), and the knob.
    CQxButton *Key(int id) const;
    CKnobButton *Knob() const { return m_knob; }
    // Null before OnInitDialog. Features show their notes and indicators here.
    CSessionStatusBar *StatusBar() { return m_pStatusBar; }

    QRect m_rcScreen;

signals:
    // The window has shown a new picture.
    void pictureShown();

protected:
    // Variant hooks, all on the window thread ---------------------------------------------
    // Places the keys and the knob (called by OnInitDialog after the status bar).
    virtual void CreatePanel() = 0;
    // The panel key a PC key stands for, 0 when none.
    virtual int PanelKeyFor(const QKeyEvent *event) const = 0;
    // A key shows its pressed face while its PC key is held.
    virtual void ShowKeyHeld(int id, bool held) = 0;
    // After a successful connect, once the connected state is shown.
    virtual void OnConnected(const QByteArray &) {}
    // A left press on the panel outside any key (window coordinates).
    virtual void ForwardScreenClick(const QPoint &) {}
    virtual void PaintPanel(QPainter &painter) = 0;
    // Shows the state: menu-independent controls, panes, keys.
    virtual void ApplyState(SessionState state);

    // Width of a status-bar pane in pixels (a variant whose pane 0 follows its own rule).
    void SetPaneWidth(int pane, int width);
    void SetPane(int pane, const QString &text);
    QString MethodPaneText() const;
    // The screen point of the instrument's own picture for a click, or false when the click
    // is outside the screen rectangle (left and top edges inside, right and bottom outside).
    bool ScreenOffset(const QPoint &point, QPoint &offset) const;
    CSessionPresenter &Presenter() { return *m_presenter; }
    CScreenView *ScreenView() { return m_screen; }

    // The panel's own area in panel pixels: the client less the status bar, unzoomed. A panel
    // with `fixedFrame` keeps exactly the zoomed size at a fixed zoom.
    void SetPanelSize(QSize size, bool fixedFrame);
    // The client size that shows a panel of `size` at the fixed zoom now chosen.
    QSize ClientSizeFor(QSize size) const { return m_zoomer.ClientSizeFor(size); }
    // A fixed zoom outside full screen: the window's size follows the panel's.
    bool IsZoomFixed() const { return m_zoomer.IsFixed(); }
    // Places the live screen, every key and the knob, and the status bar as the zoom shows
    // them now.
    void ApplyZoom();
    // Pane 0 of the status bar takes the client width less this.
    void SetPane0Margin(int margin) { m_nPane0Margin = margin; }

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    // Initialisation runs before the first show, so that the controls it creates are shown
    // with the window (children created during the show itself would stay hidden).
    void setVisible(bool visible) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

public slots:
    // Closing goes through the close box only; Esc never closes the panel.
    void reject() override;

protected:
    CSessionStatusBar *m_pStatusBar = nullptr;
    // The panel's keys and knob, created by the variant; enabled only while Started.
    std::map<int, CQxButton *> m_keys;
    CKnobButton *m_knob = nullptr;
    QIcon m_hIconConnected;
    QIcon m_hIconDisconnected;

private:
    void OnCommunication();
    // Pane 0: why the last connect or reconnect try failed, while that is news.
    void ShowCause(SessionState state);
    void ShowPicture(const QImage &image);
    bool HandleKey(QKeyEvent *event);

    const PanelProfile &m_profile;
    std::unique_ptr<CPrefStore> m_ownStore;
    CPrefStore *m_store = nullptr;
    CSessionPresenter m_defaultPresenter;
    CSessionPresenter *m_presenter = nullptr;
    bool m_initialised = false;
    bool m_closing = false;
    int m_nPane0Margin;
    CPanelZoomer m_zoomer;
    bool m_digitRowAsKeypad = false;

    CScreenView *m_screen = nullptr;
    QImage m_picture;
    int m_nPicturesShown = 0;
    PcKeyTracker m_pcKeys;

    // Its workers report to nothing but the session itself; it outlives the features, which
    // may use it until they go.
    CRemoteSession m_session;
    std::vector<std::unique_ptr<IPanelFeature>> m_features;
};
