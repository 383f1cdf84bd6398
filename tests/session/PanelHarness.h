// A KKC panel wired to a temporary log and store, a recording presenter and, on demand, the
// simulated instrument over TCP or over the simulated USB device.
#pragma once

#include "CDlgCommNew.h"
#include "CImage.h"
#include "CLog.h"
#include "CPrefStore.h"
#include "CRemoteDlgKKC.h"
#include "CSimInstrument.h"
#include "CSimServer.h"
#include "CUsbDeviceSim.h"
#include "EventWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <memory>
#include <string>
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

// Exposes the worker-side operations a test drives directly.
class TestPanel : public CRemoteDlgKKC
{
public:
    using CRemoteDlg::DrawScreenImage;
    using CRemoteDlg::ForwardScreenClick;
    using CRemoteDlgKKC::CRemoteDlgKKC;
    // The workers call overrides: they end before any part of the object goes.
    ~TestPanel() override { TearDown(); }
};

class PanelHarness
{
public:
    QTemporaryDir dir;
    std::unique_ptr<CPrefStore> store;
    RecordingPresenter presenter;
    std::shared_ptr<CSimInstrument> instrument = std::make_shared<CSimInstrument>();
    std::unique_ptr<CSimServer> server;
    CUsbDeviceSim *usb = nullptr; // owned by the link once opened
    std::function<std::vector<CUsbDeviceSim::Block>(const std::uint8_t *)> usbHandler;
    std::unique_ptr<TestPanel> panel;

    QString IniPath() const { return dir.filePath("prefs.ini"); }

    // Values written straight into the store file before the panel opens it.
    void Preset(const QString &key, const QVariant &value)
    {
        QSettings ini(IniPath(), QSettings::IniFormat);
        ini.setValue("Connection/" + key, value);
    }

    bool StartServer(const std::string &host = "127.0.0.1")
    {
        server = std::make_unique<CSimServer>(instrument);
        return server->Start(host, 0);
    }

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
        panel = std::make_unique<TestPanel>(store.get(), &presenter);
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

    bool Connect()
    {
        panel->OnCommand(ids::IDC_CONNECT);
        return WaitFor([this] { return !panel->IsConnectRunning(); });
    }

    QStringList LogLines() const
    {
        QFile file(CLog::Instance().Path());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines;
        for (const QByteArray &raw : file.readAll().split('\n')) {
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

    ~PanelHarness()
    {
        panel.reset();
        if (server)
            server->Stop();
    }
};
