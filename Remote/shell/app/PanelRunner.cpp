#include "PanelRunner.h"

#include "CCaptureFeature.h"
#include "CPrefStore.h"
#include "CRecordingReader.h"
#include "CRemoteDlg.h"
#include "CRemoteDlgKKC.h"
#include "CRemoteDlgLK.h"
#include "CReplayFeature.h"
#include "CRoomFeature.h"
#include "CSessionPresenter.h"
#include "CShareFeature.h"
#include "CSimServer.h"
#include "ComfortFeatures.h"
#include "Families.h"
#include "LkModelTable.h"
#include "SessionIds.h"
#include "ShareHttp.h"
#include "ShareKeys.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace {

constexpr const char *kLoopback = "127.0.0.1";
constexpr int kMethodTcpIPv4 = 1;
// How often the automatic connect is checked for its end.
constexpr int kConnectPollMs = 50;

constexpr const char *kConnectedMessage = "Connected";

// During the automatic connect of a simulated run or of --connect the "Connected" box would
// only stand between the operator and the live screen; every other message, and every later
// one, is shown as usual.
class CAutoConnectPresenter : public CSessionPresenter
{
public:
    void Message(QWidget *parent, const QString &text) override
    {
        if (!m_quiet || text != QLatin1String(kConnectedMessage))
            CSessionPresenter::Message(parent, text);
    }
    void SetQuiet(bool quiet) { m_quiet = quiet; }

private:
    bool m_quiet = true;
};

// A store of its own for a simulated run, so that the operator's stored method and
// addresses stay as they are. It starts with the loopback link and the stored scale, quality
// and window comforts (read only; out-of-range values are repaired in the scratch copy alone).
std::unique_ptr<CPrefStore> MakeScratchStore(const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("KLRemote.conf"));
    {
        // Read through the store itself, so that a settings file it would refuse is not
        // read here either.
        const CPrefStore native;
        QSettings scratch(path, QSettings::IniFormat);
        for (const char *name : {"Scale", "Quality", "DigitRowAsKeypad", "StayOnTop",
                                 "AutoReconnect", "ShowStats", "Refresh"}) {
            const QVariant value = native.StoredValue(QLatin1String(name));
            if (value.isValid())
                scratch.setValue(QStringLiteral("Connection/") + QLatin1String(name), value);
        }
        scratch.setValue(QStringLiteral("Connection/Method"), kMethodTcpIPv4);
        scratch.setValue(QStringLiteral("Connection/IP"), QString::fromLatin1(kLoopback));
        scratch.sync();
    }
    return std::make_unique<CPrefStore>(path);
}

// Installed in a system folder, the program must not grow a "log" folder there (as root it
// could): each user's logs then go to the per-user data folder.
QString LogFolderFor(const AppOptions &options)
{
    if (!options.logDir.isEmpty())
        return options.logDir;
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (exeDir.startsWith(QLatin1String("/usr/")) || exeDir.startsWith(QLatin1String("/opt/"))) {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        if (!data.isEmpty())
            return data + QStringLiteral("/log");
    }
#endif
    return {};
}

std::unique_ptr<CRemoteDlg> MakePanel(int family, CPrefStore *store, CSessionPresenter *presenter)
{
    if (kFamilies[static_cast<size_t>(family)].panel == PanelKind::LK)
        return std::make_unique<CRemoteDlgLK>(store, presenter);
    return std::make_unique<CRemoteDlgKKC>(store, presenter);
}

// The browser view of the panel: its family, keys, and whether it forwards screen touches.
CShareFeature *AddShareFeature(CRemoteDlg &panel, const FamilyInfo &info)
{
    ShareProfile profile;
    profile.family = QString::fromUtf8(info.label.data(), qsizetype(info.label.size()));
    if (auto *lk = qobject_cast<CRemoteDlgLK *>(&panel)) {
        profile.keys = share::LkKeys();
        profile.acceptsTouch = [lk] { return lk->ModelGroup() == lk::kTouchGroup; };
    } else {
        profile.keys = share::KkcKeys();
        profile.acceptsTouch = [] { return true; };
    }
    auto feature = std::make_unique<CShareFeature>(panel, std::move(profile), &panel.Store());
    CShareFeature *raw = feature.get();
    panel.AddFeature(std::move(feature));
    return raw;
}

// Connect, then (when asked) Start once the connect has ended well; a failed connect has
// already been shown to the operator and leaves the panel as it is.
void ConnectAndStart(CRemoteDlg &panel, CAutoConnectPresenter &presenter, bool start)
{
    panel.OnCommand(ids::IDC_CONNECT);
    auto *timer = new QTimer(&panel);
    timer->setInterval(kConnectPollMs);
    QObject::connect(timer, &QTimer::timeout, &panel, [&panel, &presenter, timer, start] {
        if (panel.IsConnectRunning())
            return;
        timer->stop();
        timer->deleteLater();
        presenter.SetQuiet(false);
        if (start && panel.IsControlEnabled(ids::IDC_START))
            panel.OnCommand(ids::IDC_START);
    });
    timer->start();
}

// Shown as well as printed: a program started from a desktop menu has no terminal.
void ReportStartFailure(const QString &text)
{
    std::fprintf(stderr, "klremote: %s\n", qPrintable(text));
    QMessageBox::critical(nullptr, QStringLiteral("KLRemote"), text);
}

} // namespace

int RunPanel(int family, const AppOptions &options)
{
    if (!IsValidFamily(family))
        return 2;
    const FamilyInfo &info = kFamilies[static_cast<size_t>(family)];

    std::unique_ptr<CSimServer> sim;
    std::unique_ptr<QTemporaryDir> scratchDir;
    std::unique_ptr<CPrefStore> scratchStore;
    CAutoConnectPresenter presenter;
    if (options.simulate) {
        const std::string model = options.simModel.isEmpty() ? std::string(info.simModel)
                                                             : options.simModel.toStdString();
        sim = std::make_unique<CSimServer>();
        sim->SetModel(model);
        // The picture must fit the panel that shows it, whatever the model text says.
        sim->SetFamily(info.panel == PanelKind::LK ? SimFamily::Lk : SimFamily::Kkc);
        if (!sim->Start(kLoopback, 0)) {
            ReportStartFailure(QStringLiteral("The simulated instrument could not be started: ") +
                               QString::fromStdString(sim->Error()));
            return 1;
        }
        scratchDir = std::make_unique<QTemporaryDir>();
        if (!scratchDir->isValid()) {
            ReportStartFailure(QStringLiteral("No temporary folder for the simulated run: ") +
                               scratchDir->errorString());
            return 1;
        }
        scratchStore = MakeScratchStore(*scratchDir);
    }

    const bool connectNow = options.connectMethod != 0;
    std::unique_ptr<CRemoteDlg> panel =
        MakePanel(family, scratchStore.get(), sim || connectNow ? &presenter : nullptr);
    if (const QString folder = LogFolderFor(options); !folder.isEmpty())
        panel->SetLogFolder(folder);
    // Their menu items follow the panel's own, in this order.
    panel->AddFeature(std::make_unique<CCaptureFeature>(*panel, family));
    AddComfortFeatures(*panel);
    const auto linkPort = sim ? static_cast<std::uint16_t>(sim->Port()) : options.connectPort;
    if (linkPort)
        panel->SetLinkSetup([linkPort](CDevComm &link) { link.SetPort(linkPort); });
    if (sim || connectNow) {
        // Once the window is up and its own initialisation has run.
        QTimer::singleShot(0, panel.get(), [p = panel.get(), &presenter, &options, connectNow] {
            ConnectAndStart(*p, presenter, !connectNow || options.start);
        });
    }
    CShareFeature *share = AddShareFeature(*panel, info);
    panel->AddFeature(std::make_unique<CRoomFeature>(
        *panel, info.panel == PanelKind::LK ? KeyTable::Lk : KeyTable::Kkc));
    // Its controls exist before the window is shown, so they show with it.
    panel->OnInitDialog();
    if (connectNow)
        panel->SetConnectionForRun(options.connectMethod, options.connectHost);
    if (!options.share.isEmpty()) {
        QHostAddress address;
        quint16 port = 0;
        QString error;
        if (!share::ParseListen(options.share, address, port, error) ||
            !share->Start(address, port, error)) {
            ReportStartFailure(
                QStringLiteral("The screen cannot be shared on %1: %2").arg(options.share, error));
            panel.reset();
            if (sim)
                sim->Stop();
            return 1;
        }
        std::printf("klremote: sharing the screen at %s\n",
                    qPrintable(share->Server().PageUrl().toString()));
        std::fflush(stdout);
    }
    panel->exec();
    // The window, its link and its workers go before the instrument they talk to.
    panel.reset();
    if (sim)
        sim->Stop();
    return 0;
}

int RunReplay(const AppOptions &options)
{
    // The recording is looked at first: it names the family, and so the panel.
    const QString name = QFileInfo(options.replay).fileName();
    CRecordingReader probe;
    if (!probe.Open(options.replay)) {
        ReportStartFailure(capture::CannotReplay(name, probe.Error()));
        return 1;
    }
    const int family = probe.Info().family;
    if (!IsValidFamily(family)) {
        ReportStartFailure(
            capture::CannotReplay(name, QStringLiteral("it names no family of ours")));
        return 1;
    }
    const QString model = probe.Info().model;

    std::unique_ptr<CRemoteDlg> panel = MakePanel(family, nullptr, nullptr);
    if (const QString folder = LogFolderFor(options); !folder.isEmpty())
        panel->SetLogFolder(folder);
    if (!panel->OnInitDialog())
        return 1;
    auto capture = std::make_unique<CCaptureFeature>(*panel, family);
    capture->SetModel(model);
    panel->AddFeature(std::move(capture));
    auto replay = std::make_unique<CReplayFeature>(*panel, options.replay);
    CReplayFeature &player = *replay;
    panel->AddFeature(std::move(replay));
    QString message;
    if (!player.Begin(message)) {
        ReportStartFailure(message);
        return 1;
    }
    panel->exec();
    return 0;
}
