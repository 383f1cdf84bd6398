// The share as a feature of a real panel against the simulated instrument: the pictures the
// window received, the session's state, keys from browsers through the panel's key path, the
// dialog, and the panel's refresh under a crowd of clients.
#include "CKeySender.h"
#include "CRemoteDlgKKC.h"
#include "CRemoteDlgLK.h"
#include "CShareDlg.h"
#include "CShareFeature.h"
#include "LkModelTable.h"
#include "PanelHarness.h"
#include "ShareHttp.h"
#include "ShareIds.h"
#include "ShareKeys.h"
#include "ShareTestKit.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>

namespace {

template <typename Panel>
struct SharedPanel : BasicPanelHarness<Panel>
{
    CShareFeature *share = nullptr;
    QByteArray lastJpeg;

    void OpenShared()
    {
        ASSERT_TRUE(this->StartServer());
        this->Open(1);
        ShareProfile profile;
        profile.family = "Family";
        if constexpr (std::is_same_v<Panel, CRemoteDlgLK>) {
            profile.keys = share::LkKeys();
            profile.acceptsTouch = [p = this->panel.get()] {
                return p->ModelGroup() == lk::kTouchGroup;
            };
        } else {
            profile.keys = share::KkcKeys();
            profile.acceptsTouch = [] { return true; };
        }
        auto feature =
            std::make_unique<CShareFeature>(*this->panel, std::move(profile), this->store.get());
        share = feature.get();
        this->panel->AddFeature(std::move(feature));
        QObject::connect(&this->panel->Session(), &CRemoteSession::screenReady,
                         [this](const ScreenFrame &f) { lastJpeg = f.jpeg; });
        QString error;
        ASSERT_TRUE(share->Start(QHostAddress(QHostAddress::LocalHost), 0, error))
            << error.toStdString();
    }
    quint16 Port() const { return share->Server().Port(); }
    QJsonObject Info() { return QJsonDocument::fromJson(Get(Port(), "/api/info").body).object(); }
    QByteArray KeyTarget() const { return "/api/key?token=" + share->Server().Token().toLatin1(); }
};

using KkcShared = SharedPanel<CRemoteDlgKKC>;

quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

TEST(SharePanel, ScreenAndInfoAreThoseOfTheWindowAndItsSession)
{
    KkcShared h;
    h.OpenShared();
    EXPECT_EQ(h.Info()["state"].toString(), "disconnected");
    EXPECT_EQ(Get(h.Port(), "/screen.jpg").status, 503);
    ASSERT_TRUE(h.Run());
    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= 3; }));
    QJsonObject info = h.Info();
    EXPECT_EQ(info["state"].toString(), "started");
    EXPECT_EQ(info["model"].toString(), QString::fromStdString(h.instrument->Model()));
    EXPECT_EQ(info["family"].toString(), "Family");
    EXPECT_EQ(info["method"].toString(), "TCP/IP");
    EXPECT_EQ(info["address"].toString(), "127.0.0.1");
    EXPECT_GE(info["pictures"].toInt(), 3);
    EXPECT_TRUE(info["touch"].toBool());
    EXPECT_EQ(info["screen"].toObject()["height"].toInt(), 480);

    h.panel->OnCommand(ids::IDC_STOP);
    Spin(1200); // a transfer under way when Stop came still ends and shows its picture
    const HttpReply screen = Get(h.Port(), "/screen.jpg");
    ASSERT_EQ(screen.status, 200);
    EXPECT_EQ(screen.body, h.lastJpeg);
    EXPECT_EQ(screen.body, h.instrument->LastScreenJpeg());
    info = h.Info();
    EXPECT_EQ(info["state"].toString(), "connected");
    EXPECT_EQ(info["pictures"].toInt(), h.panel->PicturesShown());
}

TEST(SharePanel, KeysFromBrowsersTakeThePanelsOwnKeyPath)
{
    KkcShared h;
    h.OpenShared();
    h.share->SetControlAllowed(true);
    // Keys count only while remote control runs, as on the panel itself.
    EXPECT_EQ(Post(h.Port(), h.KeyTarget(), "KEYP:MODE").status, 409);
    ASSERT_TRUE(h.Run());
    for (const char *key : {"KEYP:MODE", "KEYP:NUM1", "KEYP 10,20", "KEYP:RIGH", "KEYP:ESC"})
        EXPECT_EQ(Post(h.Port(), h.KeyTarget(), key).status, 202) << key;
    EXPECT_EQ(Post(h.Port(), "/api/key", "KEYP:CAL").status, 403);
    // The KKC panel's own rule: the knob's short right step leaves whole.
    EXPECT_EQ(h.Sent(), (std::vector<std::string>{"KEYP:MODE", "KEYP:NUM1", "KEYP 10,20",
                                                  "KEYP:RIGHT", "KEYP:ESC"}));
    EXPECT_GE(h.LogIndex("KEYP:MODE"), 0);
}

TEST(RegressShareKeys, AKeyThePanelsFullKeyQueueRefusesIsNotReportedQueued)
{
    KkcShared h;
    h.OpenShared();
    h.share->SetControlAllowed(true);
    ASSERT_TRUE(h.Run());
    // The KKC panel spaces its keys 100 ms apart: a burst fills its queue long before it drains.
    const quint16 port = h.Port();
    const QByteArray request = PostRequest(h.KeyTarget(), "KEYP:MODE");
    const int status = Beside([port, request] {
        for (std::size_t i = 0; i < 2 * CKeySender::kMaxQueued; ++i) {
            if (const int s = RawHttp(port, request).status; s != 202)
                return s;
        }
        return 202;
    });
    EXPECT_EQ(status, 503);
}

TEST(SharePanel, TheDialogStartsSharingShowsTheAddressAndCopiesIt)
{
    KkcShared h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ShareProfile profile;
    profile.keys = share::KkcKeys();
    auto feature = std::make_unique<CShareFeature>(*h.panel, std::move(profile), h.store.get());
    CShareFeature *share = feature.get();
    h.panel->AddFeature(std::move(feature));

    ASSERT_TRUE(h.panel->OnCommand(ids::ID_SHARE_BROWSER));
    CShareDlg *dlg = share->Dialog();
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->AddressBox()->currentText(), "127.0.0.1");
    EXPECT_EQ(dlg->PortBox()->value(), 8080);
    EXPECT_FALSE(dlg->ControlBox()->isChecked());
    const quint16 port = FreePort();
    dlg->PortBox()->setValue(port);
    dlg->StartButton()->click();
    ASSERT_TRUE(share->Server().IsListening()) << dlg->StatusText().toStdString();
    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(port);
    EXPECT_EQ(dlg->UrlText(), url);
    EXPECT_EQ(dlg->StatusText(), "Sharing. Viewers: 0 of 32.");
    EXPECT_EQ(h.Stored("ShareListen").toString(), QStringLiteral("127.0.0.1:%1").arg(port));

    dlg->ControlBox()->setChecked(true);
    EXPECT_EQ(dlg->UrlText(), url + "?token=" + share->Server().Token());
    dlg->CopyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), dlg->UrlText());

    QWebSocket viewer;
    viewer.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/live").arg(port)));
    ASSERT_TRUE(WaitFor([&] { return dlg->StatusText() == "Sharing. Viewers: 1 of 32."; }));

    std::unique_ptr<QMenu> menu(h.panel->BuildContextMenu());
    QAction *item = menu->findChild<QAction *>(QString::number(ids::ID_SHARE_BROWSER));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), "Share in Browser...");
    EXPECT_TRUE(item->isChecked());
    EXPECT_EQ(menu->actions().last(), item);

    // A port already taken is told, not hidden.
    dlg->StartButton()->click();
    EXPECT_FALSE(share->Server().IsListening());
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    dlg->PortBox()->setValue(taken.serverPort());
    dlg->StartButton()->click();
    EXPECT_FALSE(share->Server().IsListening());
    EXPECT_TRUE(dlg->StatusText().startsWith("Cannot share on 127.0.0.1:"))
        << dlg->StatusText().toStdString();
    // Started elsewhere (the command line) on a port the system picked: the dialog shows it,
    // and the port last chosen in the dialog stays the one offered next time.
    QString error;
    ASSERT_TRUE(share->Start(QHostAddress(QHostAddress::LocalHost), 0, error));
    EXPECT_EQ(dlg->PortBox()->value(), share->Server().Port());
    EXPECT_EQ(h.Stored("ShareListen").toString(), QStringLiteral("127.0.0.1:%1").arg(port));
}

TEST(SharePanel, TouchesAreOfferedOnlyForTheModelsThatTakeThem)
{
    SharedPanel<CRemoteDlgLK> touch;
    touch.instrument->SetModel("KL561B");
    touch.OpenShared();
    ASSERT_TRUE(touch.Connect());
    EXPECT_TRUE(touch.Info()["touch"].toBool());
    EXPECT_EQ(touch.Info()["screen"].toObject()["height"].toInt(), 600);

    SharedPanel<CRemoteDlgLK> plain;
    plain.instrument->SetModel("KL512A");
    plain.OpenShared();
    ASSERT_TRUE(plain.Connect());
    EXPECT_FALSE(plain.Info()["touch"].toBool());
}

TEST(SharePanel, ACrowdOfClientsAndSlowViewersDoesNotHoldUpTheRefresh)
{
    KkcShared h;
    h.OpenShared();
    h.panel->SetRefreshCycleMs(200);
    ASSERT_TRUE(h.Run());
    const quint16 port = h.Port();

    std::vector<int> slow;
    for (int i = 0; i < 8; ++i) {
        const int fd = ConnectLoopback(port, 4096);
        ASSERT_GE(fd, 0);
        SendAll(fd, UpgradeRequest());
        slow.push_back(fd);
    }
    std::vector<std::unique_ptr<QWebSocket>> viewers;
    std::vector<int> received(4, 0);
    for (int i = 0; i < 4; ++i) {
        viewers.push_back(std::make_unique<QWebSocket>());
        QObject::connect(viewers.back().get(), &QWebSocket::binaryMessageReceived,
                         [&received, i] { ++received[std::size_t(i)]; });
        viewers.back()->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/live").arg(port)));
    }
    ASSERT_TRUE(WaitFor([&] { return h.share->Server().ViewerCount() == 12; }));

    // A hundred clients at once, again and again, while the panel refreshes.
    const int shownBefore = h.panel->PicturesShown();
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::vector<std::future<void>> crowd;
    for (int i = 0; i < 100; ++i)
        crowd.push_back(std::async(std::launch::async, [&, i] {
            while (!stop) {
                if (RawHttp(port, GetRequest(i % 2 ? "/screen.jpg" : "/api/info"), 5000).status ==
                    200)
                    ++answered;
            }
        }));
    Spin(4000);
    stop = true;
    // The last requests are still answered: the event loop keeps turning until they are in.
    ASSERT_TRUE(WaitFor([&] {
        return std::all_of(crowd.begin(), crowd.end(), [](const std::future<void> &f) {
            return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
    }));
    const int shown = h.panel->PicturesShown() - shownBefore;
    // 20 cycles of 200 ms: a stalled window thread would show next to none.
    EXPECT_GE(shown, 10);
    EXPECT_GE(answered.load(), 100);
    for (int n : received)
        EXPECT_GE(n, 8);
    EXPECT_LE(h.share->Server().LargestBacklog(), 2 * h.lastJpeg.size() + 1024);
    for (int fd : slow)
        ::close(fd);
}
