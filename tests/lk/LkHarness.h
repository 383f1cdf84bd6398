// An LK panel wired to a temporary log and store, a recording presenter and, on demand, the
// simulated instrument over TCP or over the simulated USB device.
#pragma once

#include "CDlgCommNew.h"
#include "CLog.h"
#include "CPrefStore.h"
#include "CRemoteDlgLK.h"
#include "CSimInstrument.h"
#include "CSimServer.h"
#include "CUsbDeviceSim.h"
#include "EventWait.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct LkPresenter : CSessionPresenter
{
    QStringList events;
    void Message(QWidget *, const QString &text) override { events << "message:" + text; }
    void ConnectionFailed(QWidget *, int kind) override
    {
        events << QStringLiteral("failed:%1").arg(kind);
    }
    void About(QWidget *) override { events << "about"; }
    bool EditCommunication(CDlgCommNew &) override { return false; }
};

// Exposes what a test drives directly.
class TestLkPanel : public CRemoteDlgLK
{
public:
    using CRemoteDlg::ForwardScreenClick;
    using CRemoteDlg::SetPanelKeysEnabled;
    using CRemoteDlg::StatusBar;
    using CRemoteDlgLK::CRemoteDlgLK;
    using CRemoteDlgLK::DrawScreenImage;
    using CRemoteDlgLK::OnConnected;
    // The workers call overrides: they end before any part of the object goes.
    ~TestLkPanel() override { TearDown(); }
};

class LkHarness
{
public:
    QTemporaryDir dir;
    std::unique_ptr<CPrefStore> store;
    LkPresenter presenter;
    std::shared_ptr<CSimInstrument> instrument = std::make_shared<CSimInstrument>();
    std::unique_ptr<CSimServer> server;
    CUsbDeviceSim *usb = nullptr; // owned by the link once opened
    std::unique_ptr<TestLkPanel> panel;

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

    bool StartServer(const std::string &model = "KL561B")
    {
        instrument->SetModel(model);
        instrument->SetFamily(SimFamily::Lk);
        server = std::make_unique<CSimServer>(instrument);
        return server->Start("127.0.0.1", 0);
    }

    // method 0 leaves the store untouched (and absent unless preset).
    void Open(int method = 0)
    {
        instrument->SetLogSink([](std::string_view) {});
        if (method)
            Preset("Method", method);
        if (server)
            Preset("IP", "127.0.0.1");
        store = std::make_unique<CPrefStore>(IniPath());
        panel = std::make_unique<TestLkPanel>(store.get(), &presenter);
        panel->SetLogFolder(dir.filePath("log"));
        const std::uint16_t port = server ? server->Port() : 0;
        panel->SetLinkSetup([this, port](CDevComm &link) {
            if (port)
                link.SetPort(port);
            link.SetUsbDeviceFactory([this]() -> std::unique_ptr<IUsbBlockDevice> {
                auto device = std::make_unique<CUsbDeviceSim>(
                    [inst = instrument](const std::uint8_t *b) { return inst->HandleUsbBlock(b); });
                usb = device.get();
                return device;
            });
        });
        panel->OnInitDialog();
    }

    bool Connect()
    {
        panel->OnCommand(ids::IDC_CONNECT);
        return WaitFor([this] { return !panel->IsConnectRunning(); }) &&
               panel->Link().IsConnected();
    }

    // Connect, Start, and wait for the first picture on screen.
    bool Run()
    {
        if (!Connect())
            return false;
        panel->OnCommand(ids::IDC_START);
        return WaitFor([this] { return panel->PicturesShown() >= 1; });
    }

    std::vector<std::string> Sent() const { return instrument->ReceivedCommands(); }
    // Everything queued has left and reached the instrument.
    void Settle()
    {
        panel->KeySenderDrain(5000);
        Spin(150);
    }

    void Key(QEvent::Type type, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
             bool autoRepeat = false)
    {
        QKeyEvent event(type, key, mods, QString(), autoRepeat);
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : panel.get();
        QApplication::sendEvent(target, &event);
    }
    void Tap(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        Key(QEvent::KeyPress, key, mods);
        Key(QEvent::KeyRelease, key, mods);
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

    ~LkHarness()
    {
        panel.reset();
        if (server)
            server->Stop();
    }
};
