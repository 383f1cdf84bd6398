// The base of both front-panel windows: the remote session (connect, Start/Stop, the screen
// refresh worker, the ordered key-command path), the status bar and the right-click menu.
// A variant supplies its layout, keys and the differences listed as virtual operations.
#pragma once

#include "CDevComm.h"
#include "CSessionPresenter.h"
#include "SessionIds.h"

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QRect>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CPrefStore;
class CKeySender;
class CScreenView;
class QLabel;
class QMenu;
class QPushButton;
class QStatusBar;
class QKeyEvent;

class CRemoteDlg : public QDialog, public IDevCommOwner
{
    Q_OBJECT
public:
    // `store` may be null: the native per-user store is then used. `presenter` may be null:
    // modal message boxes and dialogs are then shown.
    CRemoteDlg(CPrefStore *store, CSessionPresenter *presenter, QWidget *parent = nullptr);
    ~CRemoteDlg() override;

    virtual void SendKeyCommand(const std::string &text) = 0;
    void SetScreenReady(int value) override;

    // Window start-up; runs once, at the latest when the window is first shown.
    bool OnInitDialog();
    // Routes a command by its identifier; false when nobody handles it.
    virtual bool OnCommand(int id);

    // Test and tool hooks ---------------------------------------------------------------
    // Log folder used instead of the one beside the executable (before OnInitDialog).
    void SetLogFolder(const QString &folder) { m_logFolder = folder; }
    // Applied to the link right after Init (a port other than 66, a simulated USB device).
    void SetLinkSetup(std::function<void(CDevComm &)> setup) { m_linkSetup = std::move(setup); }
    // The pause of the USB connect wait (default: a wait of that many milliseconds that a
    // Cancel cuts short).
    void SetUsbWaitPause(std::function<void(int ms)> pause) { m_usbWaitPause = std::move(pause); }
    // Length of one refresh cycle (500 ms unless told otherwise; soak runs shorten it).
    void SetRefreshCycleMs(int ms) { m_nRefreshCycleMs = ms < 1 ? 1 : ms; }
    bool IsConnectRunning() const { return m_connectRunning; }
    // Cancels a running connect: the attempt is abandoned and the window left Disconnected.
    void CancelConnect();
    // The menu with its item states set for the current state; the caller owns it.
    virtual QMenu *BuildContextMenu();
    QString PaneText(int pane) const;
    bool IsControlEnabled(int id) const;
    const QImage &ScreenPicture() const { return m_picture; }
    int PicturesShown() const { return m_nPicturesShown; }
    bool KeySenderDrain(int timeoutMs);
    CDevComm &Link() { return m_link; }
    QString ImagePath() const;
    QString ImageFolder() const;

    // Writes the picture file without following links; 1 on success, 0 when it cannot be
    // created ("Couldn't create the file!" logged).
    static int FileSaveBinary(const QString &path, const std::uint8_t *bytes, int count);

    int m_nConnMethod = 2;
    QString m_strIPv4 = QStringLiteral("0.0.0.0");
    QString m_strIPv6 = QStringLiteral("0::0::0::0::0::0");
    std::atomic<int> m_bScreenReady{1};
    std::atomic<int> m_bStarted{0};
    std::atomic<int> m_bAbort{0};
    QRect m_rcScreen;
    int m_nQuality = 0;
    int m_nScale = 0;

signals:
    // A decoded picture, emitted from the refresh worker; shown on the window thread.
    void screenImageReady(const QImage &image);
    // The window has shown a new picture (after it was handed over).
    void pictureShown();

protected:
    // Variant hooks -----------------------------------------------------------------------
    virtual QSize WindowSize() const = 0;
    // Places the keys and the knob (called by OnInitDialog after the status bar).
    virtual void CreatePanel() = 0;
    virtual void SetPanelKeysEnabled(bool enabled) = 0;
    // Maximum number of 100 ms pauses of the USB connect wait.
    virtual int UsbWaitCount() const { return 101; }
    // Extra pause at the start of each refresh cycle.
    virtual int RefreshPauseMs() const { return 0; }
    virtual void LogTransferTime(double seconds, int bytes, bool usb);
    virtual const char *ReceiveFailFormat(bool usb) const;
    // Decodes the picture file and hands the picture to the window. Refresh worker only.
    virtual void DrawScreenImage(const QString &path);
    // After a successful connect, once the connected controls are set.
    virtual void OnConnected(const std::vector<std::uint8_t> &equipInfo);
    virtual void OnStarted() {}
    // A left press on the panel outside any key (window coordinates).
    virtual void ForwardScreenClick(const QPoint &) {}
    // A keyboard event anywhere in the window; true consumes it.
    virtual bool HandleKey(QKeyEvent *) { return false; }
    virtual void PaintPanel(QPainter &painter) = 0;

    // Queues one text (line feed included) for the link, to leave no sooner than spacingMs
    // after the previous one. On failure "Send REQ_CMD Error" is logged and, when
    // DisconnectOnSendFailure(), the link is closed and the window left Disconnected.
    void QueueKeyCommand(const std::string &text, int spacingMs);
    virtual bool DisconnectOnSendFailure() const { return true; }
    void SaveQuality(int quality);
    // Hands a decoded picture to the window thread.
    void PresentScreen(const QImage &image);
    void ApplyDisconnectedControls();
    void ApplyConnectedControls();
    void SetPane(int pane, const QString &text);
    // Width of a status-bar pane in pixels (a variant whose pane 0 follows its own rule).
    void SetPaneWidth(int pane, int width);
    QString MethodPaneText() const;
    void Log(const QString &line) const;
    CSessionPresenter &Presenter() { return *m_presenter; }
    CPrefStore &Store() { return *m_store; }
    CScreenView *ScreenView() { return m_screen; }
    QStatusBar *StatusBar() { return m_pStatusBar; }

    void paintEvent(QPaintEvent *event) override;
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
    CDevComm m_link;
    QStatusBar *m_pStatusBar = nullptr;
    QIcon m_hIconConnected;
    QIcon m_hIconDisconnected;
    mutable std::mutex m_csImageFile;

    // Ends the connect and refresh workers and closes the link; runs once. A variant calls it
    // from its own destructor: the workers call its overrides, which must not outlive it.
    void TearDown();

private:
    struct ConnectOutcome;
    void OnConnect();
    void OnDisconnect();
    void OnStart();
    void OnStop();
    void OnCommunication();
    void OnQuality(int quality);
    void RunConnect(int method, const QString &address);
    void FinishConnect(const ConnectOutcome &outcome);
    void ShowConnectBusy(bool busy);
    void PauseUsbWait(int ms);
    void RefreshThreadProc();
    int FetchScreen();
    void ShowPicture(const QImage &image);
    void OnKeySendFailed();
    void CreateStatusBar();
    void LoadPreferences();

    std::unique_ptr<CPrefStore> m_ownStore;
    CPrefStore *m_store = nullptr;
    CSessionPresenter m_defaultPresenter;
    CSessionPresenter *m_presenter = nullptr;
    QString m_logFolder;
    std::function<void(CDevComm &)> m_linkSetup;
    std::function<void(int)> m_usbWaitPause;
    bool m_initialised = false;
    bool m_closing = false;
    bool m_tornDown = false;

    QLabel *m_panes[4] = {};
    QLabel *m_paneIcon = nullptr;
    QWidget *m_busyBox = nullptr;
    QPushButton *m_cancelButton = nullptr;
    CScreenView *m_screen = nullptr;
    QImage m_picture;
    int m_nPicturesShown = 0;

    // Connect worker.
    std::thread m_connectThread;
    bool m_connectRunning = false;
    std::atomic<int> m_connectCancel{0};
    std::mutex m_cancelLock;
    std::condition_variable m_cancelWake;

    // Refresh worker.
    std::thread m_pRefreshThread;
    std::mutex m_workerLock;
    std::condition_variable m_workerWake;
    bool m_workerStop = false;
    std::atomic<int> m_nRefreshCycleMs{0}; // 0: the standard cycle
    QString m_strImagePath;
    std::unique_ptr<QTemporaryDir> m_tempDir;

    std::unique_ptr<CKeySender> m_keySender;
    // The method of the link as opened by the last Connect; a method changed in the
    // Communication dialog applies from the next Connect on.
    std::atomic<int> m_nLinkMethod{2};
};
