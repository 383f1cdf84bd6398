// A front panel of either family wired to a temporary log and store, a recording presenter
// and, on demand, the simulated instrument over TCP or over the simulated USB device.
#pragma once

#include "CDlgCommNew.h"
#include "CLog.h"
#include "CPrefStore.h"
#include "CRemoteDlg.h"
#include "CSimInstrument.h"
#include "CSimServer.h"
#include "CUsbDeviceSim.h"
#include "EventWait.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QSettings>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

struct RecordingPresenter : CSessionPresenter
{
    QStringList events;
    int failKind = 0;
    bool acceptCommunication = false;
    std::function<void(CDlgCommNew &)> fillCommunication;
    void Message(QWidget *, const QString &text) override { events << "message:" + text; }
    void ConnectionFailed(QWidget *, int kind) override
    {
        failKind = kind;
        events << QStringLiteral("failed:%1").arg(kind);
    }
    void About(QWidget *) override { events << "about"; }
    bool EditCommunication(CDlgCommNew &dialog) override
    {
        if (fillCommunication)
            fillCommunication(dialog);
        return acceptCommunication;
    }
};

template <typename Panel>
class BasicPanelHarness
{
public:
    static_assert(std::is_base_of_v<CRemoteDlg, Panel>);

    QTemporaryDir dir;
    std::unique_ptr<CPrefStore> store;
    RecordingPresenter presenter;
    std::shared_ptr<CSimInstrument> instrument = std::make_shared<CSimInstrument>();
    std::unique_ptr<CSimServer> server;
    CUsbDeviceSim *usb = nullptr; // owned by the link once opened
    std::function<std::vector<CUsbDeviceSim::Block>(const std::uint8_t *)> usbHandler;
    std::unique_ptr<Panel> panel;

    QString IniPath() const { return dir.filePath("prefs.ini"); }

    // A value written straight into the store file before the panel opens it (this also
    // makes the store exist).
    void Preset(const QString &key, const QVariant &value)
    {
        QSettings ini(IniPath(), QSettings::IniFormat);
        ini.setValue("Connection/" + key, value);
    }
    QVariant Stored(const QString &key) const
    {
        QSettings ini(IniPath(), QSettings::IniFormat);
        return ini.value("Connection/" + key);
    }

    // The instrument answers with the screen of the panel's family unless told otherwise.
    bool StartServer(const std::string &host = "127.0.0.1")
    {
        if (Panel::kProfile.screenSize.height() == 600)
            instrument->SetFamily(SimFamily::Lk);
        else
            instrument->SetFamily(SimFamily::Kkc);
        server = std::make_unique<CSimServer>(instrument);
        return server->Start(host, 0);
    }
    bool StartServerAs(const std::string &model)
    {
        instrument->SetModel(model);
        return StartServer();
    }

    // method 0 leaves the store's method untouched.
    void Open(int method = 0, bool useUsbSim = true)
    {
        instrument->SetLogSink([](std::string_view) {});
        if (method)
            Preset("Method", method);
        if (server) {
            Preset("IP", "127.0.0.1");
            Preset("IPV6", "::1");
        }
        store = std::make_unique<CPrefStore>(IniPath());
        panel = std::make_unique<Panel>(store.get(), &presenter);
        panel->SetLogFolder(dir.filePath("log"));
        const std::uint16_t port = server ? server->Port() : 0;
        panel->SetLinkSetup([this, port, useUsbSim](CDevComm &link) {
            if (port)
                link.SetPort(port);
            if (useUsbSim)
                link.SetUsbDeviceFactory([this]() -> std::unique_ptr<IUsbBlockDevice> {
                    auto handler =
                        usbHandler ? usbHandler : [inst = instrument](const std::uint8_t *b) {
                            return inst->HandleUsbBlock(b);
                        };
                    auto device = std::make_unique<CUsbDeviceSim>(handler);
                    usb = device.get();
                    return device;
                });
        });
        panel->OnInitDialog();
    }

    // True once the connect has ended, whatever its outcome.
    bool Connect()
    {
        panel->OnCommand(ids::IDC_CONNECT);
        return WaitFor([this] { return !panel->IsConnectRunning(); });
    }

    // Connect, Start, and wait for the first picture on screen.
    bool Run()
    {
        if (!Connect() || !panel->Link().IsConnected())
            return false;
        panel->OnCommand(ids::IDC_START);
        return WaitFor([this] { return panel->PicturesShown() >= 1; });
    }

    // Everything queued has left and reached the instrument.
    void Settle()
    {
        panel->KeySenderDrain(10000);
        std::size_t count = instrument->ReceivedCommandsRaw().size();
        for (;;) {
            Spin(120);
            const std::size_t now = instrument->ReceivedCommandsRaw().size();
            if (now == count)
                return;
            count = now;
        }
    }
    std::vector<std::string> Sent()
    {
        Settle();
        return instrument->ReceivedCommands();
    }

    // A key event to whatever has the focus, as the window system would deliver it.
    void Key(QEvent::Type type, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
             bool autoRepeat = false, ulong timestamp = 0)
    {
        QKeyEvent event(type, key, mods, QString(), autoRepeat);
        event.setTimestamp(timestamp);
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : panel.get();
        QApplication::sendEvent(target, &event);
    }
    void Tap(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        Key(QEvent::KeyPress, key, mods);
        Key(QEvent::KeyRelease, key, mods);
    }
    // A left press on the panel itself at a window point (not on a key).
    void ClickPanel(QPoint at)
    {
        QMouseEvent event(QEvent::MouseButtonPress, QPointF(at), panel->mapToGlobal(QPointF(at)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(panel.get(), &event);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at),
                            panel->mapToGlobal(QPointF(at)), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(panel.get(), &release);
    }

    QByteArray LogBytes() const
    {
        QFile file(CLog::Instance().Path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QStringList LogLines() const
    {
        QStringList lines;
        for (const QByteArray &raw : LogBytes().split('\n')) {
            QString line = QString::fromLatin1(raw);
            if (line.endsWith('\r'))
                line.chop(1);
            // "YYYY-MM-DD HH:MM:SS   " precedes every message.
            if (line.size() >= 22)
                lines << line.mid(22);
        }
        return lines;
    }
    int LogIndex(const QString &text) const { return LogLines().indexOf(text); }

    ~BasicPanelHarness()
    {
        panel.reset();
        if (server)
            server->Stop();
    }
};
